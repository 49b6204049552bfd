#include "recording/memory_backfill.h"

#include "device/counter.h"
#include "measure/confidence_band.h"
#include "platform/datetime.h"

#include <QDateTime>

namespace korvinet {

std::vector<MemoryRecord> GapRecords(const std::vector<MemoryRecord>& records,
                                     std::int64_t clockOffsetMs, qint64 afterUtcMs,
                                     qint64 nowUtcMs) {
    std::vector<MemoryRecord> kept;
    qint64 end = afterUtcMs; // nothing kept may begin before this
    for (MemoryRecord record : records) {
        record.endMs -= clockOffsetMs;
        const qint64 start = record.endMs - record.ms;
        if (record.ms == 0 || start < end || record.endMs > nowUtcMs)
            continue;
        kept.push_back(record);
        end = record.endMs;
    }
    return kept;
}

std::optional<Reading> MemoryReading(const MemoryRecord& record, const TCounter& counter) {
    const double cpm = static_cast<double>(record.counts) * 60000.0 / record.ms;
    if (counter.IsOverrange(cpm))
        return std::nullopt;
    Reading r;
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(record.endMs);
    r.time = DateTimeFromQt(moment);
    r.utcOffsetSeconds = moment.offsetFromUtc();
    r.unitCode = counter.UnitCode();
    r.value = counter.ConvertRate(cpm, static_cast<std::int8_t>(r.unitCode));
    r.cpm = cpm;
    r.counts = record.counts;
    r.intervalMs = record.ms;
    CountWindow window;
    window.counts = record.counts;
    window.liveMs = record.ms;
    window.samples = window.length = 1;
    window.newestCounts = record.counts;
    window.newestMs = record.ms;
    r.band = ConfidenceBand(window, RateConversion::Of(counter));
    return r;
}

} // namespace korvinet
