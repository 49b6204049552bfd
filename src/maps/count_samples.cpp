#include "maps/count_samples.h"

#include "recording/journal_reader.h"

namespace korvinet::maps {

ReadSamples JournalSamples(const QString& folder) {
    return [reader = recording::JournalReader(folder)](qint64 from, qint64 to,
                                                       const SampleVisitor& visit) {
        reader.Visit(from, to, [&visit](const device::TimedReading& s) {
            return visit({s.utcMs, s.reading.counts, s.reading.intervalMs});
        });
    };
}

} // namespace korvinet::maps
