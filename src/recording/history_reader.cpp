#include "recording/history_reader.h"

#include "recording/history_database.h"
#include "recording/history_store.h"
#include "recording/journal_reader.h"

#include <algorithm>

namespace korvinet::recording {

using device::TimedReading;

namespace {

HistoryDatabase::Table TableOf(HistoryReader::Resolution resolution) {
    return resolution == HistoryReader::Resolution::Hours ? HistoryDatabase::Table::Hours
                                                          : HistoryDatabase::Table::Minutes;
}

} // namespace

HistoryReader::HistoryReader(QString journalFolder, std::shared_ptr<const HistoryLive> live)
    : folder_(std::move(journalFolder)), live_(std::move(live)) {}

HistoryReader::~HistoryReader() = default;
HistoryReader::HistoryReader(HistoryReader&&) noexcept = default;
HistoryReader& HistoryReader::operator=(HistoryReader&&) noexcept = default;

HistoryDatabase* HistoryReader::Db() const {
    if (db_ && db_->IsOpen())
        return db_.get();
    if (!db_)
        db_ = std::make_unique<HistoryDatabase>();
    QString why;
    return db_->Open(HistoryDatabase::PathIn(folder_), false, &why) ? db_.get() : nullptr;
}

void HistoryReader::Readings(qint64 fromUtcMs, qint64 toUtcMs,
                             const std::function<bool(const TimedReading&)>& visit) const {
    std::vector<TimedReading> recent;
    if (live_ && live_->Copy(fromUtcMs, toUtcMs, &recent)) {
        for (const TimedReading& t : recent)
            if (!visit(t))
                return;
        return;
    }
    JournalReader(folder_).Visit(fromUtcMs, toUtcMs, visit);
}

bool HistoryReader::InMemory(qint64 fromUtcMs) const {
    return live_ && live_->Covers(fromUtcMs);
}

HistoryReader::Resolution HistoryReader::ResolutionOf(int stepSeconds) {
    if (stepSeconds > 0 && stepSeconds % 3600 == 0)
        return Resolution::Hours;
    if (stepSeconds > 0 && stepSeconds % 60 == 0)
        return Resolution::Minutes;
    return Resolution::Readings;
}

qint64 HistoryReader::GridStart(qint64 fromUtcMs, int stepSeconds) {
    switch (ResolutionOf(stepSeconds)) {
    case Resolution::Hours:
        return PeriodStart(fromUtcMs, kHourMs);
    case Resolution::Minutes:
        return PeriodStart(fromUtcMs, kMinuteMs);
    case Resolution::Readings:
        break;
    }
    return fromUtcMs;
}

void HistoryReader::Steps(qint64 fromUtcMs, qint64 toUtcMs, int stepSeconds,
                          const std::function<bool(const HistorySummary&)>& visit) const {
    const qint64 stepMs = std::max(stepSeconds, 1) * qint64(1000);
    const qint64 grid = GridStart(fromUtcMs, stepSeconds);
    if (toUtcMs <= grid)
        return;
    const qint64 end = grid + (toUtcMs - grid + stepMs - 1) / stepMs * stepMs;
    StepFolder steps(grid, stepMs, visit);
    bool going = true;
    const auto add = [&](const auto& part) { return going = steps.Add(part); };

    const Resolution resolution = ResolutionOf(stepSeconds);
    qint64 tailFrom = grid;
    if (resolution != Resolution::Readings) {
        if (HistoryDatabase* db = Db(); db && db->BeginRead()) {
            // The mark and the rows as one moment's state: what the rows do
            // not hold yet comes from the readings after the mark.
            if (const auto mark = db->Mark()) {
                const auto table = TableOf(resolution);
                // Rows read before a failure are kept: the readings after
                // the mark still follow them.
                qint64 rows = 0;
                const bool read =
                    db->Visit(table, grid, std::min(end, *mark), [&](const HistorySummary& row) {
                        ++rows;
                        return add(row);
                    });
                if (read || rows > 0)
                    tailFrom = std::max(grid, *mark);
            }
            db->Rollback();
        }
    }
    if (going)
        Readings(tailFrom, end, add);
    if (going)
        steps.Finish();
}

std::optional<qint64> HistoryReader::Reach(Resolution resolution) const {
    if (resolution != Resolution::Readings) {
        if (HistoryDatabase* db = Db()) {
            if (const auto row = db->First(TableOf(resolution)))
                return row->firstUtcMs;
        }
    }
    if (const std::optional<TimedReading> oldest = OldestReading())
        return oldest->utcMs;
    return std::nullopt;
}

std::optional<TimedReading> HistoryReader::OldestReading() const {
    std::optional<TimedReading> oldest;
    JournalReader(folder_).Visit(0, kHistoryEndUtcMs, [&](const TimedReading& t) {
        oldest = t;
        return false;
    });
    return oldest;
}

std::optional<TimedReading> HistoryReader::First() const {
    if (live_)
        return live_->First();
    std::optional<TimedReading> first;
    if (HistoryDatabase* db = Db()) {
        if (const auto row = db->First(HistoryDatabase::Table::Hours)) {
            first = TimedReading{{}, row->firstUtcMs};
            first->reading.utcOffsetSeconds = row->utcOffsetSeconds;
            first->reading.time = LocalDateTime(row->firstUtcMs, row->utcOffsetSeconds);
        }
    }
    return first ? first : OldestReading();
}

} // namespace korvinet::recording
