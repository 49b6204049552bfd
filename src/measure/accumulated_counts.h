#pragma once

#include <QStringList>

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::measure {

// The two lines of the accumulated-counts box: the total since the last
// reset and the time from the accumulation start to the latest reading (none
// before the first).
QStringList AccumulatedCountsLines(const device::TCounter& counter);

} // namespace korvinet::measure
