#pragma once

#include "device/counter_device.h"
#include "device/serial_ports.h"

#include <QStringView>
#include <memory>
#include <optional>
#include <span>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The kinds of counter found on serial ports. Each is one class under
// src/device and one entry here: its name on the command line and in the
// settings, its name in lists, its usual baud rate and how it is made.
struct SerialKind {
    QStringView id;   // "text-line"
    QStringView name; // "Text-line counter"
    int baud;
    std::unique_ptr<CounterDevice> (*make)(const SerialPortEntry& port, int baud,
                                           const platform::Clock& clock);
    // A kind whose counters answer a question is recognised on a port by
    // asking it, so its port needs no choice of kind: the counter's name as
    // lists show it ("Rad Pro FS2011"), none when nothing of the kind
    // answers. Null for the kinds that only talk of their own accord, whose
    // ports the user names.
    std::optional<QString> (*recognise)(const SerialPortEntry& port) = nullptr;
};

inline constexpr QStringView kTextLineKind = u"text-line";
inline constexpr QStringView kPulseByteKind = u"pulse-byte";
inline constexpr QStringView kRadProKind = u"rad-pro";
inline constexpr QStringView kGmcKind = u"gmc";

std::span<const SerialKind> SerialKinds();
// The kind with this id; null for none.
const SerialKind* FindSerialKind(QStringView id);
// The ids, "a|b", for messages.
QString SerialKindIds();

// A port of a USB bridge that counters answering questions use: CH340/
// CH341, CP210x and PL2303 bridges (GQ GMC counters, the Rad Pro handhelds
// wired to one), and the virtual port Rad Pro enumerates with where its
// device has USB of its own. Only such ports, and ports the user named, are
// ever asked what they are.
bool IsCounterBridge(const SerialPortEntry& port);

// What a counter on a port says of itself, and the message for a port that
// is gone; the same for every serial kind.
CounterFacts SerialCounterFacts(const SerialPortEntry& port, QStringView kindId);
QString SerialPortLostText(const SerialPortEntry& port);

} // namespace korvinet::device
