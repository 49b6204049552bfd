#include "device/serial_kinds.h"

#include "device/gmc_counter.h"
#include "device/pulse_byte_counter.h"
#include "device/rad_pro_counter.h"
#include "device/text_line_counter.h"

#include <QStringList>
#include <array>

namespace korvinet::device {

namespace {

constexpr std::array<SerialKind, 4> kKinds = {{
    {kTextLineKind, u"Text-line counter", TextLineCounter::kBaud,
     [](const SerialPortEntry& port, int baud,
        const platform::Clock& clock) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<TextLineCounter>(port, baud, clock);
     }},
    {kPulseByteKind, u"Pulse-per-byte counter", PulseByteCounter::kBaud,
     [](const SerialPortEntry& port, int baud,
        const platform::Clock&) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<PulseByteCounter>(port, baud);
     }},
    {kRadProKind, u"Rad Pro", RadProCounter::kBaud,
     [](const SerialPortEntry& port, int baud,
        const platform::Clock& clock) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<RadProCounter>(port, baud, clock);
     },
     &RadProCounter::Recognise},
    // Both baud rates are tried unless the user chose one.
    {kGmcKind, u"GQ GMC", 0,
     [](const SerialPortEntry& port, int baud,
        const platform::Clock& clock) -> std::unique_ptr<CounterDevice> {
         return std::make_unique<GmcCounter>(port, baud, clock);
     },
     &GmcCounter::Recognise},
}};

struct UsbId {
    std::uint16_t vendor;
    std::uint16_t product;
};
constexpr UsbId kBridges[] = {
    {0x1a86, 0x7523}, // CH340
    {0x1a86, 0x5523}, // CH341
    {0x10c4, 0xea60}, // CP2102/CP2104
    {0x067b, 0x2303}, // PL2303
    {0x0483, 0x5740}, // Rad Pro's own USB (FNIRSI GC-01 and others)
};

} // namespace

bool IsCounterBridge(const SerialPortEntry& port) {
    if (!port.vendorId || !port.productId)
        return false;
    for (const UsbId& id : kBridges)
        if (id.vendor == *port.vendorId && id.product == *port.productId)
            return true;
    return false;
}

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

} // namespace korvinet::device
