#pragma once

#include "device/reading.h"

#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvinet::recording {

// The readings of one stretch of time in one unit, summed so that stretches
// join exactly: a minute's summary is the sum of its readings, an hour's the
// sum of its minutes, a step's the sum of whatever it is made of, and every
// mean is taken last (a mean of means weighted by count).
struct HistorySummary {
    qint64 startUtcMs = 0; // the stretch's start
    std::uint8_t unitCode = 2;
    std::int32_t utcOffsetSeconds = 0; // in force at its first reading
    std::int64_t n = 0;                // readings
    double valueSum = 0.0;
    double valueMin = 0.0;
    double valueMax = 0.0;
    double cpmSum = 0.0;
    std::int64_t counts = 0;
    std::int64_t intervalMs = 0; // the time the readings' samples covered
    std::int64_t alarms = 0;     // readings taken with the alarm on
    std::int64_t banded = 0;     // readings that had a 95 % band
    double lowSum = 0.0;
    double highSum = 0.0;
    qint64 firstUtcMs = 0; // its first and last reading
    qint64 lastUtcMs = 0;

    // Folds in one reading of the journal (an overrange marker holds no
    // value and is left out, as the journal leaves it out).
    void Add(const device::TimedReading& reading);
    // Folds in another summary of the same unit.
    void Merge(const HistorySummary& other);

    double Mean() const { return valueSum / static_cast<double>(n); }
    double MeanCpm() const { return cpmSum / static_cast<double>(n); }
    // The mean interval of a sample; 0 when none is known.
    qint64 SampleMs() const { return n ? intervalMs / n : 0; }
};

inline constexpr qint64 kMinuteMs = 60 * 1000;
inline constexpr qint64 kHourMs = 60 * kMinuteMs;
// Later than any reading: the end of year 9999.
inline constexpr qint64 kHistoryEndUtcMs = 253402300799000;

// The start of the period of periodMs (counted from 1970-01-01 UTC) that a
// moment falls in.
inline qint64 PeriodStart(qint64 utcMs, qint64 periodMs) {
    return utcMs - ((utcMs % periodMs) + periodMs) % periodMs;
}

// The local date-time (days since 30 December 1899) of a moment at an offset
// from UTC.
double LocalDateTime(qint64 utcMs, int utcOffsetSeconds);

// Gathers readings and summaries into steps of stepMs from gridStartUtcMs on
// and hands each step on (one summary per unit it holds, in the order of
// their first readings; startUtcMs the step's start) once its last part has
// come. Parts must come in time order; `step` returns false to stop.
class StepFolder {
public:
    using Step = std::function<bool(const HistorySummary&)>;

    StepFolder(qint64 gridStartUtcMs, qint64 stepMs, Step step);

    // False once `step` has asked to stop.
    bool Add(const device::TimedReading& reading);
    bool Add(const HistorySummary& part);
    // Hands on the step under way.
    bool Finish();

private:
    HistorySummary* Into(qint64 utcMs, std::uint8_t unitCode);

    qint64 grid_;
    qint64 stepMs_;
    Step step_;
    qint64 index_ = -1;
    std::vector<HistorySummary> open_; // the step under way, one per unit
    bool stopped_ = false;
};

} // namespace korvinet::recording
