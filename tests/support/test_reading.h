#pragma once

#include "device/display_units.h"
#include "device/reading.h"

#include <QString>

namespace korvinet::testing {

// A reading as tests write it: its unit by name ("mR/hr") and its value as
// the data file shows it ("0.012").
inline device::Reading MakeReading(double time, const QString& unitName, const QString& value,
                                   bool alarm = false) {
    device::Reading r;
    r.time = time;
    for (std::size_t code = 0; code < device::kDisplayUnits.size(); ++code)
        if (device::kDisplayUnits[code].name == unitName)
            r.unitCode = static_cast<std::uint8_t>(code);
    r.value = value.toDouble();
    r.alarm = alarm;
    return r;
}

} // namespace korvinet::testing
