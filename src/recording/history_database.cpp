#include "recording/history_database.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <bit>
#include <sqlite3.h>

namespace korvinet::recording {

namespace {

constexpr int kSchemaVersion = 1;

// A row is a stretch's start (whole Unix seconds), the unit's code and the
// summary in one value of kSummaryBytes, little-endian: utc_offset, the
// first and the last reading in milliseconds after the start, n (int32
// each), counts (uint32), interval_ms, alarms, banded (int32 each), value_sum,
// value_min, value_max, cpm_sum, low_sum, high_sum (double each): no more
// than an hour's readings, and one value reads several times faster than a
// column for each.
constexpr const char* kTables[] = {"minutes", "hours"};
constexpr qsizetype kSummaryBytes = 8 * 4 + 6 * 8;

QByteArray TableSql(const char* name) {
    return QByteArray("CREATE TABLE IF NOT EXISTS ") + name +
           "(start INTEGER NOT NULL, unit INTEGER NOT NULL, summary BLOB NOT NULL,"
           " PRIMARY KEY(start, unit)) WITHOUT ROWID";
}

template <typename T> void Put(char*& at, T value) {
    if constexpr (std::is_same_v<T, double>) {
        Put(at, std::bit_cast<quint64>(value));
    } else {
        qToLittleEndian(value, at);
        at += sizeof(T);
    }
}

template <typename T> T Get(const char*& at) {
    if constexpr (std::is_same_v<T, double>) {
        return std::bit_cast<double>(Get<quint64>(at));
    } else {
        const T value = qFromLittleEndian<T>(at);
        at += sizeof(T);
        return value;
    }
}

void Encode(const HistorySummary& s, qint64 base, char* bytes) {
    char* at = bytes;
    Put<qint32>(at, s.utcOffsetSeconds);
    Put<qint32>(at, static_cast<qint32>(s.firstUtcMs - base));
    Put<qint32>(at, static_cast<qint32>(s.lastUtcMs - base));
    Put<qint32>(at, static_cast<qint32>(s.n));
    Put<quint32>(at, static_cast<quint32>(s.counts));
    for (const qint64 v : {s.intervalMs, s.alarms, s.banded})
        Put<qint32>(at, static_cast<qint32>(v));
    for (const double v : {s.valueSum, s.valueMin, s.valueMax, s.cpmSum, s.lowSum, s.highSum})
        Put<double>(at, v);
}

void Decode(const char* bytes, qint64 base, HistorySummary* s) {
    const char* at = bytes;
    s->utcOffsetSeconds = Get<qint32>(at);
    s->firstUtcMs = base + Get<qint32>(at);
    s->lastUtcMs = base + Get<qint32>(at);
    s->n = Get<qint32>(at);
    s->counts = Get<quint32>(at);
    for (std::int64_t* v : {&s->intervalMs, &s->alarms, &s->banded})
        *v = Get<qint32>(at);
    for (double* v :
         {&s->valueSum, &s->valueMin, &s->valueMax, &s->cpmSum, &s->lowSum, &s->highSum})
        *v = Get<double>(at);
}

} // namespace

HistoryDatabase::~HistoryDatabase() {
    Close();
}

QString HistoryDatabase::PathIn(const QString& journalFolder) {
    return QDir(journalFolder).filePath(QStringLiteral("history.sqlite"));
}

void HistoryDatabase::Close() {
    for (sqlite3_stmt*& statement : statements_) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

bool HistoryDatabase::Failed(int code) {
    const int primary = code & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        damaged_ = true;
    return false;
}

QString HistoryDatabase::Error() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("not open");
}

bool HistoryDatabase::Exec(const char* sql) {
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || Failed(code);
}

bool HistoryDatabase::Open(const QString& path, bool write, QString* error) {
    Close();
    damaged_ = false;
    if (!write && !QFile::exists(path)) {
        *error = QStringLiteral("there is no history yet");
        return false;
    }
    const int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags, nullptr) != SQLITE_OK) {
        *error = Error();
        Close();
        return false;
    }
    // A reader waits for the writer's brief moments rather than failing.
    sqlite3_busy_timeout(db_, 2000);
    int found = -1;
    {
        sqlite3_stmt* version = nullptr;
        int code = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version, nullptr);
        if (code == SQLITE_OK)
            code = sqlite3_step(version);
        if (code == SQLITE_ROW)
            found = sqlite3_column_int(version, 0);
        else
            Failed(code);
        sqlite3_finalize(version);
    }
    if (found < 0) {
        *error = damaged_ ? QStringLiteral("the file is damaged or not a history") : Error();
        Close();
        return false;
    }
    bool ok = found == kSchemaVersion || (write && found == 0);
    if (!ok)
        damaged_ = true; // another program's file, or ours spoiled
    if (ok && write) {
        // The journal's .samples files are what the summaries are made from:
        // a power cut may lose the last commits (the store is then behind and
        // catches up), never leave them half made.
        ok = Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=NORMAL") &&
             Exec(TableSql(kTables[0]).constData()) && Exec(TableSql(kTables[1]).constData()) &&
             Exec("CREATE TABLE IF NOT EXISTS progress(id INTEGER PRIMARY KEY CHECK (id = 1),"
                  " mark INTEGER NOT NULL)") &&
             Exec(QByteArray("PRAGMA user_version=" + QByteArray::number(kSchemaVersion))
                      .constData());
    }
    ok = ok && Prepare();
    if (!ok) {
        *error = damaged_ ? QStringLiteral("the file is damaged or not a history") : Error();
        Close();
        return false;
    }
    return true;
}

bool HistoryDatabase::Check() {
    sqlite3_stmt* check = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &check, nullptr) != SQLITE_OK)
        return Failed(sqlite3_errcode(db_));
    const int code = sqlite3_step(check);
    const bool ok =
        code == SQLITE_ROW &&
        qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok") == 0;
    sqlite3_finalize(check);
    if (!ok)
        damaged_ = true;
    return ok;
}

bool HistoryDatabase::Prepare() {
    QByteArray sql[kStatements];
    sql[kMark] = "SELECT mark FROM progress WHERE id = 1";
    sql[kSetMark] = "INSERT INTO progress VALUES(1, ?1) ON CONFLICT(id) DO UPDATE SET mark = "
                    "excluded.mark";
    for (int t = 0; t < 2; ++t) {
        const QByteArray table = kTables[t];
        sql[kInsert + t] =
            "INSERT INTO " + table + " VALUES(?1, ?2, ?3) ON CONFLICT(start, unit) DO NOTHING";
        sql[kRow + t] = "SELECT summary FROM " + table + " WHERE start = ?1 AND unit = ?2";
        sql[kUpdate + t] = "UPDATE " + table + " SET summary = ?3 WHERE start = ?1 AND unit = ?2";
        sql[kVisit + t] = "SELECT start, unit, summary FROM " + table +
                          " WHERE start >= ?1 AND start < ?2 ORDER BY start, unit";
        sql[kRemove + t] = "DELETE FROM " + table + " WHERE start < ?1";
        sql[kRemoveFrom + t] = "DELETE FROM " + table + " WHERE start >= ?1";
    }
    for (int i = 0; i < kStatements; ++i) {
        const int code = sqlite3_prepare_v3(db_, sql[i].constData(), -1, SQLITE_PREPARE_PERSISTENT,
                                            &statements_[i], nullptr);
        if (code != SQLITE_OK)
            return Failed(code);
    }
    return true;
}

sqlite3_stmt* HistoryDatabase::Prepared(int slot) {
    sqlite3_stmt* s = statements_[slot];
    sqlite3_reset(s);
    return s;
}

bool HistoryDatabase::Begin() {
    return Exec("BEGIN IMMEDIATE");
}

bool HistoryDatabase::BeginRead() {
    return Exec("BEGIN");
}

bool HistoryDatabase::Commit() {
    return Exec("COMMIT");
}

void HistoryDatabase::Rollback() {
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::optional<qint64> HistoryDatabase::Mark() {
    sqlite3_stmt* s = Prepared(kMark);
    const int code = sqlite3_step(s);
    if (code == SQLITE_DONE)
        return 0;
    if (code != SQLITE_ROW) {
        Failed(code);
        return std::nullopt;
    }
    const qint64 mark = sqlite3_column_int64(s, 0);
    sqlite3_reset(s);
    return mark;
}

bool HistoryDatabase::SetMark(qint64 utcMs) {
    sqlite3_stmt* s = Prepared(kSetMark);
    sqlite3_bind_int64(s, 1, utcMs);
    const int code = sqlite3_step(s);
    return code == SQLITE_DONE || Failed(code);
}

bool HistoryDatabase::Merge(Table table, qint64 periodStartUtcMs, const HistorySummary& x) {
    const int t = static_cast<int>(table);
    const qint64 start = periodStartUtcMs / 1000;
    const qint64 base = start * 1000;
    char bytes[kSummaryBytes];
    Encode(x, base, bytes);
    // Mostly the row is new; one there already (an hour's, a minute begun
    // before a restart) is read, joined and written back.
    sqlite3_stmt* s = Prepared(kInsert + t);
    sqlite3_bind_int64(s, 1, start);
    sqlite3_bind_int(s, 2, x.unitCode);
    sqlite3_bind_blob(s, 3, bytes, kSummaryBytes, SQLITE_STATIC);
    int code = sqlite3_step(s);
    if (code != SQLITE_DONE)
        return Failed(code);
    if (sqlite3_changes(db_) > 0)
        return true;
    s = Prepared(kRow + t);
    sqlite3_bind_int64(s, 1, start);
    sqlite3_bind_int(s, 2, x.unitCode);
    code = sqlite3_step(s);
    if (code != SQLITE_ROW || sqlite3_column_bytes(s, 0) != kSummaryBytes)
        return Failed(code == SQLITE_ROW ? SQLITE_CORRUPT : code);
    HistorySummary joined;
    joined.unitCode = x.unitCode;
    Decode(static_cast<const char*>(sqlite3_column_blob(s, 0)), base, &joined);
    sqlite3_reset(s);
    joined.Merge(x);
    Encode(joined, base, bytes);
    s = Prepared(kUpdate + t);
    sqlite3_bind_int64(s, 1, start);
    sqlite3_bind_int(s, 2, x.unitCode);
    sqlite3_bind_blob(s, 3, bytes, kSummaryBytes, SQLITE_STATIC);
    code = sqlite3_step(s);
    return code == SQLITE_DONE || Failed(code);
}

bool HistoryDatabase::Visit(Table table, qint64 fromUtcMs, qint64 toUtcMs,
                            const std::function<bool(const HistorySummary&)>& row) {
    sqlite3_stmt* s = Prepared(kVisit + static_cast<int>(table));
    // Whole seconds: stretches start on whole minutes.
    const auto seconds = [](qint64 ms) { return ms / 1000 + (ms % 1000 > 0 ? 1 : 0); };
    sqlite3_bind_int64(s, 1, seconds(fromUtcMs));
    sqlite3_bind_int64(s, 2, seconds(toUtcMs));
    int code;
    HistorySummary x;
    while ((code = sqlite3_step(s)) == SQLITE_ROW) {
        if (sqlite3_column_bytes(s, 2) != kSummaryBytes) {
            code = SQLITE_CORRUPT;
            break;
        }
        x.startUtcMs = sqlite3_column_int64(s, 0) * 1000;
        x.unitCode = static_cast<std::uint8_t>(sqlite3_column_int(s, 1));
        Decode(static_cast<const char*>(sqlite3_column_blob(s, 2)), x.startUtcMs, &x);
        if (!row(x)) {
            sqlite3_reset(s);
            return true;
        }
    }
    sqlite3_reset(s);
    return code == SQLITE_DONE || Failed(code);
}

std::optional<HistorySummary> HistoryDatabase::First(Table table) {
    std::optional<HistorySummary> first;
    const bool read =
        Visit(table, 0, std::numeric_limits<qint64>::max() / 2, [&](const HistorySummary& row) {
            first = row;
            return false;
        });
    return read ? first : std::nullopt;
}

bool HistoryDatabase::RemoveBefore(Table table, qint64 utcMs) {
    sqlite3_stmt* s = Prepared(kRemove + static_cast<int>(table));
    sqlite3_bind_int64(s, 1, utcMs / 1000);
    const int code = sqlite3_step(s);
    return code == SQLITE_DONE || Failed(code);
}

bool HistoryDatabase::RemoveFrom(Table table, qint64 utcMs) {
    sqlite3_stmt* s = Prepared(kRemoveFrom + static_cast<int>(table));
    sqlite3_bind_int64(s, 1, utcMs / 1000);
    const int code = sqlite3_step(s);
    return code == SQLITE_DONE || Failed(code);
}

} // namespace korvinet::recording
