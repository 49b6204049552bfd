#include "recording/memory_backfill.h"

#include "device/counter.h"
#include "measure/confidence_band.h"
#include "platform/datetime.h"

#include <QDateTime>

namespace korvinet::recording {

std::vector<device::MemoryRecord> GapRecords(const std::vector<device::MemoryRecord>& records,
                                             std::int64_t clockOffsetMs, qint64 afterUtcMs,
                                             qint64 nowUtcMs) {
    std::vector<device::MemoryRecord> kept;
    qint64 end = afterUtcMs; // nothing kept may begin before this
    for (device::MemoryRecord record : records) {
        record.endMs -= clockOffsetMs;
        const qint64 start = record.endMs - record.ms;
        if (record.ms == 0 || start < end || record.endMs > nowUtcMs)
            continue;
        kept.push_back(record);
        end = record.endMs;
    }
    return kept;
}

std::optional<device::Reading> MemoryReading(const device::MemoryRecord& record,
                                             const device::TCounter& counter) {
    const double cpm = static_cast<double>(record.counts) * 60000.0 / record.ms;
    if (counter.IsOverrange(cpm))
        return std::nullopt;
    device::Reading r;
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(record.endMs);
    r.time = platform::DateTimeFromQt(moment);
    r.utcOffsetSeconds = moment.offsetFromUtc();
    r.unitCode = counter.UnitCode();
    r.value = counter.ConvertRate(cpm, static_cast<std::int8_t>(r.unitCode));
    r.cpm = cpm;
    r.counts = record.counts;
    r.intervalMs = record.ms;
    measure::CountWindow window;
    window.counts = record.counts;
    window.liveMs = record.ms;
    window.samples = window.length = 1;
    window.newestCounts = record.counts;
    window.newestMs = record.ms;
    r.band = measure::ConfidenceBand(window, measure::RateConversion::Of(counter));
    return r;
}

} // namespace korvinet::recording
