#include "recording/history_store.h"

#include "recording/history_reader.h"
#include "recording/journal_reader.h"

#include <QFile>
#include <algorithm>

namespace korvinet::recording {

using device::TimedReading;

namespace {

constexpr qint64 kDayMs = 24 * kHourMs;
// While the summaries cannot be written, trying again this often.
constexpr qint64 kRetryMs = 10 * kMinuteMs;
// Minutes written in one transaction while catching up.
constexpr int kMinutesPerCommit = 1440;

auto ByTime = [](const TimedReading& a, qint64 utcMs) { return a.utcMs < utcMs; };

} // namespace

bool HistoryLive::Copy(qint64 fromUtcMs, qint64 toUtcMs,
                       std::vector<TimedReading>* readings) const {
    const std::lock_guard lock(mutex_);
    if (fromUtcMs < coversFrom_)
        return false;
    const auto begin = std::lower_bound(recent_.begin(), recent_.end(), fromUtcMs, ByTime);
    const auto end = std::lower_bound(begin, recent_.end(), toUtcMs, ByTime);
    readings->assign(begin, end);
    return true;
}

bool HistoryLive::Covers(qint64 fromUtcMs) const {
    const std::lock_guard lock(mutex_);
    return fromUtcMs >= coversFrom_;
}

std::optional<TimedReading> HistoryLive::First() const {
    const std::lock_guard lock(mutex_);
    return first_;
}

HistoryStore::HistoryStore(QString journalFolder) : HistoryStore(std::move(journalFolder), {}) {}

HistoryStore::HistoryStore(QString journalFolder, Options options)
    : folder_(std::move(journalFolder)), options_(options) {}

HistoryStore::~HistoryStore() = default;

bool HistoryStore::Open(qint64 nowUtcMs, QString* error) {
    problem_.clear();
    QString why;
    usable_ = OpenDatabase(&why);
    if (!usable_)
        Fail(why);
    CatchUp(nowUtcMs);
    if (usable_)
        return true;
    retryAt_ = nowUtcMs + kRetryMs;
    *error = problem_;
    return false;
}

bool HistoryStore::OpenDatabase(QString* error) {
    const QString path = HistoryDatabase::PathIn(folder_);
    if (db_.Open(path, true, error) && db_.Check())
        return true;
    if (!db_.Damaged()) {
        if (error->isEmpty())
            *error = db_.Error();
        db_.Close();
        return false;
    }
    // Made again from the journal; the damaged file is kept for whoever
    // wants to look into it, its log with it (a log left beside a new file
    // would be read into it).
    db_.Close();
    const QString damaged = path + QStringLiteral(".damaged");
    for (const char* suffix : {"", "-wal"}) {
        QFile::remove(damaged + QLatin1String(suffix));
        QFile::rename(path + QLatin1String(suffix), damaged + QLatin1String(suffix));
        QFile::remove(path + QLatin1String(suffix));
    }
    QFile::remove(path + QStringLiteral("-shm"));
    return db_.Open(path, true, error);
}

bool HistoryStore::CatchUp(qint64 nowUtcMs) {
    pending_.clear();
    hourPending_.clear();
    minute_ = -1;
    const qint64 recentFrom = nowUtcMs - options_.recentMs;
    cutoff_ = nowUtcMs - options_.minuteDays * kDayMs;
    std::optional<qint64> mark;
    if (usable_) {
        mark = db_.Mark();
        if (!mark || !db_.Begin())
            Fail(db_.Error());
    }
    if (usable_) {
        mark_ = *mark;
        batch_ = true;
        batched_ = 0;
    }
    std::deque<TimedReading> recent;
    qint64 covers = recentFrom;
    JournalReader(folder_).Visit(usable_ ? std::min(mark_, recentFrom) : recentFrom,
                                 kHistoryEndUtcMs, [&](const TimedReading& t) {
                                     if (usable_ && t.utcMs >= mark_)
                                         Fold(t);
                                     if (t.utcMs >= recentFrom) {
                                         recent.push_back(t);
                                         if (recent.size() > options_.recentMax) {
                                             covers = recent.front().utcMs + 1;
                                             recent.pop_front();
                                         }
                                     }
                                     return true;
                                 });
    if (usable_) {
        // The minute under way stays in memory, as it would have.
        batch_ = false;
        pruneDay_ = -1;
        if (!Commit(mark_))
            Fail(db_.Error());
    }
    {
        const std::lock_guard lock(live_->mutex_);
        live_->recent_ = std::move(recent);
        live_->coversFrom_ = covers;
    }
    behind_ = false;
    UpdateFirst();
    return usable_;
}

void HistoryStore::UpdateFirst() {
    const std::optional<TimedReading> first = HistoryReader(folder_).First();
    const std::lock_guard lock(live_->mutex_);
    live_->first_ = first;
}

void HistoryStore::Recorded(const device::Reading& reading, bool kept) {
    if (reading.overrange)
        return;
    const TimedReading t = AsJournalled(reading);
    if (!kept) {
        // Whether the journal holds it or not, the journal knows: the
        // summaries and the recent readings are taken from it again.
        behind_ = true;
        pending_.clear();
        minute_ = -1;
        const std::lock_guard lock(live_->mutex_);
        live_->coversFrom_ = std::numeric_limits<qint64>::max();
        return;
    }
    if (behind_ || !usable_) {
        if (t.utcMs >= retryAt_ || t.utcMs < retryAt_ - kRetryMs) {
            // The journal holds this reading too.
            QString why;
            usable_ = usable_ || OpenDatabase(&why);
            if (!usable_)
                Fail(why);
            else
                problem_.clear();
            // A journal failing again and again is read again at most once a
            // minute; a database that cannot be written is tried less often.
            retryAt_ = t.utcMs + (CatchUp(t.utcMs) ? kMinuteMs : kRetryMs);
            return;
        }
        if (behind_)
            return;
        Remember(t);
        return;
    }
    Remember(t);
    cutoff_ = std::max(cutoff_, t.utcMs - options_.minuteDays * kDayMs);
    Fold(t);
}

void HistoryStore::Remember(const TimedReading& t) {
    const std::lock_guard lock(live_->mutex_);
    if (!live_->first_ || t.utcMs < live_->first_->utcMs)
        live_->first_ = t;
    auto& recent = live_->recent_;
    if (t.utcMs < live_->coversFrom_)
        return;
    recent.insert(
        std::upper_bound(recent.begin(), recent.end(), t.utcMs,
                         [](qint64 utcMs, const TimedReading& a) { return utcMs < a.utcMs; }),
        t);
    while (!recent.empty() && (recent.size() > options_.recentMax ||
                               recent.front().utcMs < recent.back().utcMs - options_.recentMs)) {
        live_->coversFrom_ = std::max(live_->coversFrom_, recent.front().utcMs + 1);
        recent.pop_front();
    }
}

void HistoryStore::Fold(const TimedReading& t) {
    const qint64 minute = PeriodStart(t.utcMs, kMinuteMs);
    if (minute_ >= 0 && minute != minute_ && !Flush())
        return;
    minute_ = minute;
    auto summary = std::find_if(pending_.begin(), pending_.end(), [&](const HistorySummary& s) {
        return s.unitCode == t.reading.unitCode;
    });
    if (summary == pending_.end()) {
        summary = pending_.insert(pending_.end(), HistorySummary{});
        summary->startUtcMs = minute;
        summary->unitCode = t.reading.unitCode;
    }
    pendingLast_ =
        summary->n == 0 && pending_.size() == 1 ? t.utcMs : std::max(pendingLast_, t.utcMs);
    summary->Add(t);
}

bool HistoryStore::Flush() {
    if (pending_.empty() || !usable_)
        return usable_;
    const qint64 hour = PeriodStart(minute_, kHourMs);
    bool ok = batch_ || db_.Begin();
    // The hour's row takes its minutes at every commit, and when the hour
    // is over.
    if (ok && hour != hour_)
        ok = WriteHour();
    hour_ = hour;
    for (const HistorySummary& s : pending_) {
        ok = ok && (minute_ < cutoff_ || db_.Merge(HistoryDatabase::Table::Minutes, minute_, s));
        Join(&hourPending_, s);
    }
    const qint64 mark = std::max(mark_, pendingLast_ + 1);
    pending_.clear();
    minute_ = -1;
    if (ok && (!batch_ || ++batched_ >= kMinutesPerCommit)) {
        batched_ = 0;
        ok = Commit(mark) && (!batch_ || db_.Begin());
    }
    if (!ok) {
        Fail(db_.Error());
        retryAt_ = mark + kRetryMs;
        return false;
    }
    mark_ = mark;
    return true;
}

bool HistoryStore::WriteHour() {
    bool ok = true;
    for (const HistorySummary& s : hourPending_)
        ok = ok && db_.Merge(HistoryDatabase::Table::Hours, hour_, s);
    hourPending_.clear();
    return ok;
}

bool HistoryStore::Commit(qint64 mark) {
    // Minutes past their keeping go once a day.
    const qint64 day = mark / kDayMs;
    const bool prune = day != pruneDay_;
    pruneDay_ = day;
    return WriteHour() && db_.SetMark(mark) &&
           (!prune || db_.RemoveBefore(HistoryDatabase::Table::Minutes, cutoff_)) && db_.Commit();
}

void HistoryStore::Join(std::vector<HistorySummary>* summaries, const HistorySummary& s) {
    for (HistorySummary& joined : *summaries) {
        if (joined.unitCode == s.unitCode) {
            joined.Merge(s);
            return;
        }
    }
    summaries->push_back(s);
}

bool HistoryStore::Rewind(qint64 fromUtcMs) {
    if (!usable_ || behind_)
        return usable_; // caught up from the journal anyway
    // The minute under way is in the journal: it is read again with the rest.
    pending_.clear();
    hourPending_.clear();
    minute_ = -1;
    hour_ = -1;
    const qint64 hour = PeriodStart(fromUtcMs, kHourMs);
    if (hour >= mark_)
        return true; // nothing summarised there yet
    if (!db_.Begin() || !db_.RemoveFrom(HistoryDatabase::Table::Minutes, hour) ||
        !db_.RemoveFrom(HistoryDatabase::Table::Hours, hour) || !db_.SetMark(hour) ||
        !db_.Commit()) {
        Fail(db_.Error());
        return false;
    }
    mark_ = hour;
    return true;
}

void HistoryStore::TakeLate(qint64 nowUtcMs) {
    if (usable_ && !behind_)
        CatchUp(nowUtcMs);
}

void HistoryStore::Close() {
    if (usable_ && !behind_)
        Flush();
    db_.Close();
    usable_ = false;
}

void HistoryStore::Fail(const QString& why) {
    problem_ = QStringLiteral("The history's summaries in %1 cannot be kept: %2")
                   .arg(HistoryDatabase::PathIn(folder_), why);
    db_.Rollback();
    usable_ = false;
    batch_ = false;
    pending_.clear();
    hourPending_.clear();
    minute_ = -1;
}

} // namespace korvinet::recording
