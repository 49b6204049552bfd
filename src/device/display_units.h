#pragma once

#include <QStringView>
#include <array>

namespace korvinet::device {

// One unit a reading can be shown in: its name, how many decimals its texts
// carry, and how a count rate becomes a reading in it.
struct DisplayUnit {
    QStringView name;
    int decimals;
    // From the dead-time compensated rate, or from the rate as counted.
    bool compensated;
    // The rate times scale, then divided by the counter's sensitivity (counts
    // per minute for 1 mR/hr) where perSensitivity is set.
    double scale;
    bool perSensitivity;
};

// The units by code: a unit's code is its place here, in the "Display Units:"
// list and in the stored UnitsIndex.
inline constexpr std::array<DisplayUnit, 5> kDisplayUnits = {{
    {u"CPM (uncomp)", 1, false, 1, false},
    {u"CPM", 1, true, 1, false},
    {u"mR/hr", 3, true, 1, true},
    {u"\u00B5R/hr", 0, true, 1000, true},
    {u"\u00B5Sv/hr", 2, true, 10, true},
}};

// The unit of the counter's range, which a reading must not exceed.
inline constexpr int kMilliRoentgenPerHour = 2;
// The unit dose rates are published in, whatever the display unit.
inline constexpr int kMicroSievertPerHour = 4;

// The unit of a code; null for a code that names none (an unselected list
// entry reads as 255, or as -1 taken signed).
inline const DisplayUnit* FindDisplayUnit(int code) {
    return code >= 0 && code < static_cast<int>(kDisplayUnits.size()) ? &kDisplayUnits[code]
                                                                      : nullptr;
}

} // namespace korvinet::device
