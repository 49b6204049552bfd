#pragma once

#include "recording/history_summary.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace korvinet::recording {

class HistoryDatabase;
class HistoryLive;

// Reads a journal's history by time: its readings, or steps of any length
// made of the history's summaries. Used by the station's web site and the
// window alike; each reader is for one thread at a time (make one per
// thread), and several readers and the recording program may work on one
// folder at once. Without the live readings of the program recording there
// (another process, or none records), what the summaries do not reach yet
// is read from the journal's files.
class HistoryReader {
public:
    // What a step is made of.
    enum class Resolution {
        Readings, // steps that are no whole number of minutes
        Minutes,  // whole minutes that are no whole number of hours
        Hours,    // whole hours
    };

    explicit HistoryReader(QString journalFolder, std::shared_ptr<const HistoryLive> live = {});
    ~HistoryReader();
    HistoryReader(HistoryReader&&) noexcept;
    HistoryReader& operator=(HistoryReader&&) noexcept;

    // Every reading with fromUtcMs <= utcMs < toUtcMs, in time order; `visit`
    // returns false to stop. The raw readings are the journal's: they go
    // back as far as its files are kept.
    void Readings(qint64 fromUtcMs, qint64 toUtcMs,
                  const std::function<bool(const device::TimedReading&)>& visit) const;
    // Whether Readings() from that moment on is answered from memory.
    bool InMemory(qint64 fromUtcMs) const;

    static Resolution ResolutionOf(int stepSeconds);
    // Where the steps of a range begin: fromUtcMs rounded down to the whole
    // minute or hour of the resolution (in UTC), so that each step is made of
    // whole summaries; fromUtcMs itself for steps made of readings.
    static qint64 GridStart(qint64 fromUtcMs, int stepSeconds);
    // The steps from GridStart(fromUtcMs) on that begin before toUtcMs, each
    // whole: one summary per unit the step holds readings in (a step without
    // readings is none), startUtcMs the step's start. `visit` returns false
    // to stop. Minute summaries reach back a year and more, hour summaries
    // as far as the history goes.
    void Steps(qint64 fromUtcMs, qint64 toUtcMs, int stepSeconds,
               const std::function<bool(const HistorySummary&)>& visit) const;

    // The oldest reading's moment the history can answer for (its offset
    // from UTC with it); none when it holds nothing.
    std::optional<device::TimedReading> First() const;
    // How far back a resolution reaches: the oldest reading the journal
    // still keeps, or the oldest reading in a minute or hour summary (where
    // no summaries are kept, steps are made of the journal's readings and
    // reach as far). None when it holds nothing. The summaries outlive the
    // raw readings, so an old span may be answered in steps alone.
    std::optional<qint64> Reach(Resolution resolution) const;

private:
    // The summaries' database, opened when first asked for; null when
    // there is none to read.
    HistoryDatabase* Db() const;
    // The oldest reading the journal's files keep.
    std::optional<device::TimedReading> OldestReading() const;

    QString folder_;
    std::shared_ptr<const HistoryLive> live_;
    mutable std::unique_ptr<HistoryDatabase> db_;
};

} // namespace korvinet::recording
