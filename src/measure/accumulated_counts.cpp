#include "measure/accumulated_counts.h"

#include "device/counter.h"

namespace korvinet {

QStringList AccumulatedCountsLines(const TCounter& counter) {
    return {QStringLiteral("Total Counts: %1").arg(counter.AccumulatedTotal()),
            QStringLiteral("ET: ") +
                TCounter::ElapsedText(counter.LatestReadingTime() - counter.AccumulationStart())};
}

} // namespace korvinet
