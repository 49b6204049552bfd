#include "device/serial_finder.h"

#include "device/serial_kinds.h"

#include <QFileInfo>

namespace korvinet {

std::vector<ListedCounter> SerialFinder::List() {
    found_.clear();
    std::vector<ListedCounter> listed;
    const auto add = [&](const SerialPortEntry& port, const CounterChoice* choice) {
        QString kindId = !port.kind.isEmpty() ? port.kind : choice ? choice->kind : QString();
        // A kind whose counters answer a question is asked for on a port the
        // user named without a kind.
        for (const SerialKind& k : SerialKinds())
            if (kindId.isEmpty() && choice && k.recognise && k.recognise(port))
                kindId = k.id.toString();
        const SerialKind* kind = FindSerialKind(kindId);
        if (!kind || found_.contains(port.path))
            return;
        found_.insert(port.path, {port, kindId, choice ? choice->baud : 0});
        ListedCounter counter;
        counter.name = QStringLiteral("%1 (%2)").arg(kind->name.toString(), port.path);
        counter.serial = port.Identity();
        counter.description = kind->name.toString();
        counter.address = port.path;
        counter.port = port.path;
        if (choice)
            counter.chosen = choice->Calibration();
        listed.push_back(counter);
    };
    for (const SerialPortEntry& port : ports_.Ports())
        add(port, FindChoice(choices_, port.Identity(), port.path));
    // Ports named by a path the list does not hold: pseudo-terminals, or a
    // link such as /dev/serial/by-id/... to a listed port.
    for (const CounterChoice& choice : choices_) {
        if (!choice.counter.startsWith(QLatin1Char('/')))
            continue;
        if (const std::optional<SerialPortEntry> port = PortAt(choice.counter)) {
            SerialPortEntry named = *port;
            if (!QFileInfo(choice.counter).isSymLink())
                named.path = choice.counter;
            add(named, &choice);
        }
    }
    return listed;
}

std::unique_ptr<CounterDevice> SerialFinder::Make(const ListedCounter& counter) {
    const auto it = found_.constFind(counter.address);
    if (it == found_.constEnd())
        return nullptr;
    const SerialKind* kind = FindSerialKind(it->kind);
    return kind ? kind->make(it->port, it->baud, clock_) : nullptr;
}

} // namespace korvinet
