#include "device/serial_finder.h"

#include "device/serial_kinds.h"

#include <QFileInfo>
#include <QSet>

namespace korvinet::device {

std::vector<ListedCounter> SerialFinder::List() {
    found_.clear();
    std::vector<ListedCounter> listed;
    QSet<QString> present;
    const auto add = [&](const SerialPortEntry& port, const CounterChoice* choice) {
        if (found_.contains(port.path))
            return;
        QString kindId = !port.kind.isEmpty() ? port.kind : choice ? choice->kind : QString();
        // Kinds whose counters answer a question are asked on a port the
        // user named, on a bridge such counters use, and on a port of their
        // own kind (for its name).
        const bool ask = !kindId.isEmpty() || choice || IsCounterBridge(port);
        QString name;
        for (const SerialKind& k : SerialKinds()) {
            if (!ask || !k.recognise || (!kindId.isEmpty() && k.id != kindId))
                continue;
            const QString key = port.path + QLatin1Char('|') + port.serialNumber +
                                QLatin1Char('|') + k.id.toString();
            present.insert(key);
            std::optional<QString> recognised;
            if (const auto known = asked_.constFind(key); known != asked_.constEnd()) {
                recognised = *known;
            } else {
                recognised = k.recognise(port);
                // A port of no counter is not asked again while it stays;
                // one the user named is, as its counter may be switched on.
                if (recognised || !choice)
                    asked_.insert(key, recognised);
            }
            if (recognised) {
                kindId = k.id.toString();
                name = *recognised;
                break;
            }
        }
        const SerialKind* kind = FindSerialKind(kindId);
        if (!kind)
            return;
        found_.insert(port.path, {port, kindId, choice ? choice->baud : 0});
        ListedCounter counter;
        counter.name =
            QStringLiteral("%1 (%2)").arg(name.isEmpty() ? kind->name.toString() : name, port.path);
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
    // What was asked of ports that are gone is asked again when they return.
    for (auto it = asked_.begin(); it != asked_.end();)
        it = present.contains(it.key()) ? std::next(it) : asked_.erase(it);
    return listed;
}

std::unique_ptr<CounterDevice> SerialFinder::Make(const ListedCounter& counter) {
    const auto it = found_.constFind(counter.address);
    if (it == found_.constEnd())
        return nullptr;
    const SerialKind* kind = FindSerialKind(it->kind);
    return kind ? kind->make(it->port, it->baud, clock_) : nullptr;
}

} // namespace korvinet::device
