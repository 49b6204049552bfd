#pragma once

#include "maps/count_samples.h"
#include "maps/curl_http.h"
#include "maps/map_upload_config.h"
#include "measure/confidence_band.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace korvinet::maps {

// One upload interval [startMs, endMs) in UTC, aligned to whole intervals
// since 1970, and what its samples counted.
struct IntervalMean {
    qint64 startMs = 0;
    qint64 endMs = 0;
    std::uint64_t counts = 0;
    std::uint64_t liveMs = 0;
    qint64 lastMs = 0; // the moment its last sample that took time was taken

    // The mean count rate from the counts and the time they took.
    double Cpm() const { return liveMs > 0 ? 60000.0 * double(counts) / double(liveMs) : 0.0; }
    bool operator==(const IntervalMean&) const = default;
};

// The start of the interval of intervalMs that holds utcMs.
qint64 IntervalStart(qint64 utcMs, qint64 intervalMs);

// Up to maxCount intervals of intervalMs, oldest first, that hold samples
// with fromMs <= utcMs < toMs; intervals without any sample are left out.
std::vector<IntervalMean> NextIntervals(const ReadSamples& read, qint64 fromMs, qint64 toMs,
                                        qint64 intervalMs, std::size_t maxCount);

// What goes with the intervals besides their counts.
struct UploadExtras {
    std::optional<measure::RateConversion> dose; // the counter's conversion to µSv/h
    double averageCpm = 0.0; // GMCmap's ACPM: the mean since the station started
};

// The dose rate of a mean count rate through the counter's own conversion.
double DoseRateUsvh(const measure::RateConversion& conversion, double rawCpm);

// The request that carries `intervals` (one, or a batch where the service
// takes several) to the destination, as the service documents it.
HttpRequest BuildMapRequest(const MapDestination& destination,
                            std::span<const IntervalMean> intervals, const UploadExtras& extras);

// Whether the service needs the dose rate, which waits for the counter's
// conversion.
bool NeedsDose(const MapDestination& destination);

enum class UploadOutcome {
    Accepted, // the service has the intervals (also: it had them already)
    SlowDown, // too soon, too many requests: send the same again later, slower
    Refused,  // the credentials or the station's identity: no use retrying
    Unusable, // the service cannot take what this upload file sends (a box or
              // sensor of another account): stop, the readings stay in the journal
    Rejected, // the service will never take these values: skip them
    Failed,   // no answer, or the service in trouble: retry later
};

struct UploadVerdict {
    UploadOutcome outcome = UploadOutcome::Failed;
    QString why; // for the log: the service's own words where it gave some
};

UploadVerdict ClassifyMapResponse(MapService service, const HttpResult& result);

// A report identifier for OpenRadiation in the UUID version 4 layout, made
// from the key and the interval so that sending an interval again names the
// same report (which the service then refuses as a duplicate).
QString ReportUuid(const MapDestination& destination, qint64 intervalStartMs);

// UTC times as the services write them, with milliseconds where there are
// any: 2026-12-09T10:40:00Z, 2026-12-09T10:40:59.950Z.
QString IsoUtc(qint64 utcMs);

} // namespace korvinet::maps
