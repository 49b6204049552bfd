#pragma once

#include "recording/history_summary.h"

#include <QString>
#include <QtGlobal>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace korvinet::recording {

// The history's database file beside the journal, "history.sqlite" (SQLite,
// write-ahead log): a table of minute summaries, one of hour summaries, and
// how far into the journal they reach. Only the history store and its reader
// use it.
class HistoryDatabase {
public:
    enum class Table { Minutes, Hours };

    HistoryDatabase() = default;
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase&) = delete;
    HistoryDatabase& operator=(const HistoryDatabase&) = delete;

    static QString PathIn(const QString& journalFolder);

    // Opens the file, read-only or to write (making it, with its tables, when
    // missing). False with the reason; Damaged() says whether the file is
    // there but no history database of ours, or a damaged one.
    [[nodiscard]] bool Open(const QString& path, bool write, QString* error);
    // Looks through every page of the file: false when it is damaged.
    [[nodiscard]] bool Check();
    bool Damaged() const { return damaged_; }
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    [[nodiscard]] bool Begin();
    // A read transaction: what is read in it is one moment's state.
    [[nodiscard]] bool BeginRead();
    [[nodiscard]] bool Commit();
    void Rollback();

    // Every journal reading before the mark is in the summaries, none after
    // it (0 for a store that holds nothing yet).
    std::optional<qint64> Mark();
    [[nodiscard]] bool SetMark(qint64 utcMs);

    // Adds the summary to the row of its stretch, making the row when there
    // is none.
    [[nodiscard]] bool Merge(Table table, qint64 periodStartUtcMs, const HistorySummary& s);
    // The rows of the stretches starting in [fromUtcMs, toUtcMs), in time
    // order; `row` returns false to stop. False when the file failed.
    [[nodiscard]] bool Visit(Table table, qint64 fromUtcMs, qint64 toUtcMs,
                             const std::function<bool(const HistorySummary&)>& row);
    // The first row of the table; none when it is empty or failed.
    std::optional<HistorySummary> First(Table table);
    // Removes the rows of the stretches starting before the moment.
    [[nodiscard]] bool RemoveBefore(Table table, qint64 utcMs);
    // Removes the rows of the stretches starting at or after the moment.
    [[nodiscard]] bool RemoveFrom(Table table, qint64 utcMs);

    // The last failure in SQLite's words.
    QString Error() const;

private:
    // The statements, prepared once; a table's follows the minutes'.
    enum {
        kMark,
        kSetMark,
        kInsert,
        kRow = kInsert + 2,
        kUpdate = kRow + 2,
        kVisit = kUpdate + 2,
        kRemove = kVisit + 2,
        kRemoveFrom = kRemove + 2,
        kStatements = kRemoveFrom + 2,
    };
    bool Exec(const char* sql);
    bool Failed(int code);
    bool Prepare();
    sqlite3_stmt* Prepared(int slot);

    sqlite3* db_ = nullptr;
    bool damaged_ = false;
    sqlite3_stmt* statements_[kStatements] = {};
};

} // namespace korvinet::recording
