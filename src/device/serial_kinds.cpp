#include "device/serial_kinds.h"

#include "device/pulse_byte_counter.h"
#include "device/text_line_counter.h"

#include <QStringList>
#include <array>

namespace korvinet {

namespace {

constexpr std::array<SerialKind, 2> kKinds = {{
    {kTextLineKind, u"Text-line counter", TextLineCounter::kBaud,
     [](const SerialPortEntry& port, int baud,
        const Clock& clock) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<TextLineCounter>(port, baud, clock);
     }},
    {kPulseByteKind, u"Pulse-per-byte counter", PulseByteCounter::kBaud,
     [](const SerialPortEntry& port, int baud, const Clock&) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<PulseByteCounter>(port, baud);
     }},
}};

} // namespace

std::span<const SerialKind> SerialKinds() {
    return kKinds;
}

const SerialKind* FindSerialKind(QStringView id) {
    for (const SerialKind& kind : kKinds)
        if (kind.id == id)
            return &kind;
    return nullptr;
}

QString SerialKindIds() {
    QStringList ids;
    for (const SerialKind& kind : kKinds)
        ids << kind.id.toString();
    return ids.join(QLatin1Char('|'));
}

CounterFacts SerialCounterFacts(const SerialPortEntry& port, QStringView kindId) {
    const SerialKind* kind = FindSerialKind(kindId);
    CounterFacts facts;
    facts.kind = kind ? kind->name.toString() : kindId.toString();
    facts.model = port.description.isEmpty() ? facts.kind : port.description;
    facts.serial = port.Identity();
    facts.port = port.path;
    return facts;
}

QString SerialPortLostText(const SerialPortEntry& port) {
    return QStringLiteral("The counter on %1 is gone (unplugged?)").arg(port.path);
}

} // namespace korvinet
