#pragma once

#include "device/counter_device.h"
#include "device/serial_ports.h"

#include <QStringView>
#include <memory>
#include <span>

namespace korvinet {

class Clock;

// The kinds of counter found on serial ports. Each is one class under
// src/device and one entry here: its name on the command line and in the
// settings, its name in lists, its usual baud rate and how it is made.
struct SerialKind {
    QStringView id;   // "text-line"
    QStringView name; // "Text-line counter"
    int baud;
    std::unique_ptr<CounterDevice> (*make)(const SerialPortEntry& port, int baud,
                                           const Clock& clock);
    // A kind whose counters answer a question is recognised on a port by
    // asking it, so its port needs no choice of kind; null for the kinds
    // that only talk of their own accord, whose ports the user names.
    bool (*recognise)(const SerialPortEntry& port) = nullptr;
};

inline constexpr QStringView kTextLineKind = u"text-line";
inline constexpr QStringView kPulseByteKind = u"pulse-byte";

std::span<const SerialKind> SerialKinds();
// The kind with this id; null for none.
const SerialKind* FindSerialKind(QStringView id);
// The ids, "a|b", for messages.
QString SerialKindIds();

// What a counter on a port says of itself, and the message for a port that
// is gone; the same for every serial kind.
CounterFacts SerialCounterFacts(const SerialPortEntry& port, QStringView kindId);
QString SerialPortLostText(const SerialPortEntry& port);

} // namespace korvinet
