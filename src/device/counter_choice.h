#pragma once

#include "device/counter_device.h"

#include <QString>
#include <optional>
#include <vector>

namespace korvinet::device {

// What the user chose for a counter that cannot tell it: the kind of counter
// on a serial port (only ports given a kind are ever opened) and, for a
// counter without a calibration of its own, a tube or a factor.
struct CounterChoice {
    QString counter; // its serial number, or the path of its port
    QString kind;    // a serial kind ("text-line", "pulse-byte"); empty: none
    int baud = 0;    // 0: the kind's own
    QString tube;    // a tube profile's name; empty: none
    // Instead of a tube: counts per minute for 1 µSv/hr, and a dead time.
    double cpmPerMicrosievertHour = 0.0;
    double deadTimeSeconds = 0.0;

    // The calibration this choice gives, in the engine's terms (CPM per
    // mR/hr); none without a known tube or a factor above 0.
    std::optional<CounterCalibration> Calibration() const;
    bool operator==(const CounterChoice&) const = default;
};

using CounterChoices = std::vector<CounterChoice>;

// The counter a choice names when it is for any counter without one of its
// own.
inline const QString kAnyCounter = QStringLiteral("*");

// The choices as the settings store keeps them, one text value (a JSON
// list); what does not read is left out.
CounterChoices ParseCounterChoices(const QString& stored);
QString FormatCounterChoices(const CounterChoices& choices);

// The choice for the counter with this identity (serial number or path) or
// on this port path, else the one for any counter; null when there is none.
const CounterChoice* FindChoice(const CounterChoices& choices, const QString& identity,
                                const QString& path = {});

} // namespace korvinet::device
