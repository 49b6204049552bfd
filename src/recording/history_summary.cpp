#include "recording/history_summary.h"

#include <algorithm>

namespace korvinet::recording {

double LocalDateTime(qint64 utcMs, int utcOffsetSeconds) {
    constexpr double kUnixEpoch = 25569.0; // 1970-01-01 in date-time days
    return kUnixEpoch +
           static_cast<double>(utcMs + qint64(utcOffsetSeconds) * 1000) / platform::kMsPerDay;
}

void HistorySummary::Add(const device::TimedReading& t) {
    const device::Reading& r = t.reading;
    if (r.overrange)
        return;
    if (n == 0 || t.utcMs < firstUtcMs) {
        firstUtcMs = t.utcMs;
        utcOffsetSeconds = r.utcOffsetSeconds.value_or(0);
    }
    lastUtcMs = n == 0 ? t.utcMs : std::max(lastUtcMs, t.utcMs);
    valueMin = n == 0 ? r.value : std::min(valueMin, r.value);
    valueMax = n == 0 ? r.value : std::max(valueMax, r.value);
    ++n;
    valueSum += r.value;
    cpmSum += r.cpm;
    counts += r.counts;
    intervalMs += r.intervalMs;
    alarms += r.alarm ? 1 : 0;
    if (r.band) {
        ++banded;
        lowSum += r.band->low.value;
        highSum += r.band->high.value;
    }
}

void HistorySummary::Merge(const HistorySummary& o) {
    if (o.n == 0)
        return;
    if (n == 0) {
        const qint64 start = startUtcMs;
        *this = o;
        startUtcMs = start;
        return;
    }
    if (o.firstUtcMs < firstUtcMs) {
        firstUtcMs = o.firstUtcMs;
        utcOffsetSeconds = o.utcOffsetSeconds;
    }
    lastUtcMs = std::max(lastUtcMs, o.lastUtcMs);
    valueMin = std::min(valueMin, o.valueMin);
    valueMax = std::max(valueMax, o.valueMax);
    n += o.n;
    valueSum += o.valueSum;
    cpmSum += o.cpmSum;
    counts += o.counts;
    intervalMs += o.intervalMs;
    alarms += o.alarms;
    banded += o.banded;
    lowSum += o.lowSum;
    highSum += o.highSum;
}

StepFolder::StepFolder(qint64 gridStartUtcMs, qint64 stepMs, Step step)
    : grid_(gridStartUtcMs), stepMs_(std::max<qint64>(stepMs, 1)), step_(std::move(step)) {}

HistorySummary* StepFolder::Into(qint64 utcMs, std::uint8_t unitCode) {
    // Floor division: a part before the grid's start belongs to no step.
    if (utcMs < grid_ || stopped_)
        return nullptr;
    const qint64 index = (utcMs - grid_) / stepMs_;
    // A part out of order (the clock was set back) joins the step under way.
    if (index > index_) {
        if (!Finish())
            return nullptr;
        index_ = index;
    }
    for (HistorySummary& s : open_)
        if (s.unitCode == unitCode)
            return &s;
    HistorySummary& s = open_.emplace_back();
    s.startUtcMs = grid_ + index_ * stepMs_;
    s.unitCode = unitCode;
    return &s;
}

bool StepFolder::Add(const device::TimedReading& reading) {
    if (reading.reading.overrange)
        return !stopped_;
    if (HistorySummary* s = Into(reading.utcMs, reading.reading.unitCode))
        s->Add(reading);
    return !stopped_;
}

bool StepFolder::Add(const HistorySummary& part) {
    if (part.n == 0)
        return !stopped_;
    if (HistorySummary* s = Into(part.startUtcMs, part.unitCode))
        s->Merge(part);
    return !stopped_;
}

bool StepFolder::Finish() {
    if (stopped_)
        return false;
    std::sort(open_.begin(), open_.end(), [](const HistorySummary& a, const HistorySummary& b) {
        return a.firstUtcMs < b.firstUtcMs;
    });
    for (const HistorySummary& s : open_) {
        if (!step_(s)) {
            stopped_ = true;
            break;
        }
    }
    open_.clear();
    return !stopped_;
}

} // namespace korvinet::recording
