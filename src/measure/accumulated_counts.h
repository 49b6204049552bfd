#pragma once

#include <QStringList>

namespace korvinet {

class TCounter;

// The two lines of the accumulated-counts box: the total since the last
// reset and the time from the accumulation start to the latest reading (none
// before the first).
QStringList AccumulatedCountsLines(const TCounter& counter);

} // namespace korvinet
