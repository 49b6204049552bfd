#include "measure/accumulated_counts.h"

#include "device/counter.h"

namespace korvinet::measure {

QStringList AccumulatedCountsLines(const device::TCounter& counter) {
    // Before the first sample (a graph restored at the start is drawn then)
    // nothing has been accumulated for any time.
    const double elapsed =
        counter.HasReading() ? counter.LatestReadingTime() - counter.AccumulationStart() : 0.0;
    return {QStringLiteral("Total Counts: %1").arg(counter.AccumulatedTotal()),
            QStringLiteral("ET: ") + device::TCounter::ElapsedText(elapsed)};
}

} // namespace korvinet::measure
