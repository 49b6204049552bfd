#pragma once

#include "device/reading.h"
#include "recording/history_database.h"
#include "recording/history_summary.h"

#include <QString>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace korvinet::recording {

// The recent readings a recording program holds in memory, for readers on
// any thread: the page's live poll and the last hour are answered from here
// without touching the disk.
class HistoryLive {
public:
    // Copies the readings with fromUtcMs <= utcMs < toUtcMs, in time order;
    // false (nothing copied) when not every reading from fromUtcMs on is held.
    bool Copy(qint64 fromUtcMs, qint64 toUtcMs, std::vector<device::TimedReading>* readings) const;
    bool Covers(qint64 fromUtcMs) const;
    // The oldest moment the history holds (with the offset then in force);
    // none while it holds nothing.
    std::optional<device::TimedReading> First() const;

private:
    friend class HistoryStore;

    mutable std::mutex mutex_;
    std::deque<device::TimedReading> recent_; // in time order
    // Every reading from this moment on is held; none is before any is.
    qint64 coversFrom_ = std::numeric_limits<qint64>::max();
    std::optional<device::TimedReading> first_;
};

// The history beside a recording journal: summaries of every minute and every
// hour, kept as the readings arrive, so that any span of the journal is
// answered in milliseconds, and the recent readings in memory. The journal's
// .samples files stay the source of truth; the summaries are made from them
// and are made again from them when missing or damaged.
//
// The program that records into the folder (the one holding its lock) keeps
// the store: the Recorder hands it every reading right after the journal has
// written it. A minute's summary is written once the minute has passed, in
// one transaction with the mark of how far the summaries reach, so a crash
// or a power cut leaves the summaries behind, never wrong: the next Open()
// brings them up to the journal again.
//
// Minute summaries are kept for Options::minuteDays, hour summaries as long
// as the disk allows: both outlive the journal's raw readings.
class HistoryStore {
public:
    struct Options {
        int minuteDays = 400;              // a year and more
        qint64 recentMs = 2 * 3600 * 1000; // readings held in memory
        std::size_t recentMax = 36000;     // at most (two hours at 200 ms)
    };

    explicit HistoryStore(QString journalFolder);
    HistoryStore(QString journalFolder, Options options);
    // Leaves the minute under way unwritten, as a crash would: the next
    // Open() takes it from the journal.
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens the summaries and brings them up to the journal's readings: made
    // afresh from the .samples files when missing or damaged (a damaged file
    // is kept beside as "history.sqlite.damaged"), caught up from where they
    // end otherwise. Loads the recent readings. False with the reason when the
    // summaries cannot be kept (the readers then read the journal's files).
    [[nodiscard]] bool Open(qint64 nowUtcMs, QString* error);
    // A reading the journal has just been asked to keep; `kept` says whether
    // it did. After a failed write the summaries leave the live readings
    // aside and catch up from the journal once it writes again.
    void Recorded(const device::Reading& reading, bool kept);
    // Readings are about to reach the journal for a time the summaries may
    // have passed already (a counter's own memory filling a gap): the
    // summaries from the hour of fromUtcMs on are removed, together with
    // the mark, in one transaction, before the journal has them. Made again
    // from the journal by TakeLate(), or by the next Open() after a crash
    // in between, so none is counted twice or left out. False when the
    // summaries cannot be kept.
    bool Rewind(qint64 fromUtcMs);
    // The journal has them now: the summaries and the recent readings are
    // made again from it.
    void TakeLate(qint64 nowUtcMs);
    // Writes the minute under way: the end of a recording.
    void Close();

    std::shared_ptr<const HistoryLive> Live() const { return live_; }
    const QString& Folder() const { return folder_; }
    // Why the summaries are not kept; empty while they are.
    const QString& Problem() const { return problem_; }

private:
    bool OpenDatabase(QString* error);
    bool CatchUp(qint64 nowUtcMs);
    void Fold(const device::TimedReading& reading);
    bool Flush();
    bool WriteHour();
    bool Commit(qint64 mark);
    static void Join(std::vector<HistorySummary>* summaries, const HistorySummary& s);
    void Remember(const device::TimedReading& reading);
    void Fail(const QString& why);
    void UpdateFirst();

    QString folder_;
    Options options_;
    std::shared_ptr<HistoryLive> live_ = std::make_shared<HistoryLive>();
    HistoryDatabase db_;
    bool usable_ = false; // the database is open and takes the readings
    // The journal failed to write: the summaries and the recent readings wait
    // to be taken from it again.
    bool behind_ = false;
    bool batch_ = false;                      // catching up: many minutes a transaction
    int batched_ = 0;                         // minutes written in the open transaction
    qint64 mark_ = 0;                         // how far the written summaries reach
    qint64 cutoff_ = 0;                       // minute summaries before this go
    qint64 minute_ = -1;                      // the minute under way (UTC ms of its start)
    std::vector<HistorySummary> pending_;     // its readings, one summary per unit
    qint64 pendingLast_ = 0;                  // the latest reading among them
    qint64 hour_ = -1;                        // the hour of the minutes written last
    std::vector<HistorySummary> hourPending_; // their sums, not in its row yet
    qint64 pruneDay_ = -1;
    qint64 retryAt_ = 0; // catching up is tried again from then
    QString problem_;
};

} // namespace korvinet::recording
