// The history answers from a journal written by the real RecordingJournal:
// pages that chain to exactly its readings, steps, the data file the window
// opens, and the link to the next page.
#include "platform/clock.h"
#include "recording/history_reader.h"
#include "support/journal_fixture.h"
#include "web/readings_query.h"
#include "web/station_routes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace korvinet::web {
namespace {

using testing::At;
using testing::kMicroSv;
using testing::kMr;
using testing::Utc;

// Readings every 20 s from 23:58:00 on the 14th to 00:02:00 on the 15th
// (values 0.010, 0.011, ...), then a restart in µSv/hr: 13 + 3 readings.
class StationWebTest : public testing::JournalTest {
protected:
    void SetUp() override {
        auto journal = Begin(At(14, 23, 58, 0));
        for (int i = 0; i <= 12; ++i) {
            const QByteArray value = QByteArray::number(0.010 + i * 0.001, 'f', 3);
            ASSERT_TRUE(
                Add(*journal, At(14, 23, 58, 0) + i * 20 / 86400.0, value.constData(), i == 5).ok);
        }
        journal->Close();
        journal = Begin(At(15, 0, 3, 0));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(
                Add(*journal, At(15, 0, 3, 0) + i * 20 / 86400.0, "0.10", false, kMicroSv).ok);
        journal->Close();
    }

    // Every page of a query, following nextFromUtcMs.
    std::vector<ReadingsRow> AllPages(ReadingsQuery q, std::size_t limit, int* pages) {
        std::vector<ReadingsRow> rows;
        for (*pages = 0; *pages < 100; ++*pages) {
            const ReadingsPage page = ReadReadings(recording::HistoryReader(folder), q, limit);
            rows.insert(rows.end(), page.rows.begin(), page.rows.end());
            if (!page.nextFromUtcMs)
                break;
            EXPECT_GT(*page.nextFromUtcMs, q.fromUtcMs);
            q.fromUtcMs = *page.nextFromUtcMs;
        }
        ++*pages;
        return rows;
    }

    const qint64 from = Utc(At(14, 23, 0, 0));
    const qint64 to = Utc(At(15, 1, 0, 0));
};

TEST_F(StationWebTest, PagesChainToExactlyTheJournalsReadings) {
    const std::vector<device::TimedReading> journal = ReadBack(from, to);
    ASSERT_EQ(journal.size(), 16u);
    for (const std::size_t limit : {std::size_t{1000}, std::size_t{5}, std::size_t{1}}) {
        SCOPED_TRACE(limit);
        int pages = 0;
        const std::vector<ReadingsRow> rows = AllPages({from, to}, limit, &pages);
        EXPECT_EQ(pages, static_cast<int>((journal.size() + limit - 1) / limit));
        ASSERT_EQ(rows.size(), journal.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].r.utcMs, journal[i].utcMs);
            EXPECT_EQ(rows[i].r.reading.value, journal[i].reading.value);
            EXPECT_EQ(rows[i].r.reading.unitCode, journal[i].reading.unitCode);
        }
    }
}

// Steps of 60 s on the grid of whole minutes at or before `from`: three
// readings each, their mean; a page boundary keeps the grid; a unit change
// starts a row of its own.
TEST_F(StationWebTest, StepsAverageOnTheGridOfTheRange) {
    ReadingsQuery q{Utc(At(14, 23, 57, 50)), to};
    q.stepSeconds = 60;
    int pages = 0;
    const std::vector<ReadingsRow> rows = AllPages(q, 2, &pages);
    ASSERT_EQ(rows.size(), 6u); // 4 minutes of mR/hr, 00:02:00 alone, the µSv/hr minute
    EXPECT_EQ(pages, 3);
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].n, 3);
        EXPECT_EQ(rows[i].r.utcMs, Utc(At(14, 23, 58, 0)) + static_cast<qint64>(i) * 60000);
        EXPECT_NEAR(rows[i].r.reading.value, 0.011 + i * 0.003, 1e-9);
        EXPECT_NEAR(rows[i].min, 0.010 + i * 0.003, 1e-9);
        EXPECT_EQ(rows[i].r.reading.alarm, i == 1);
    }
    EXPECT_EQ(rows[4].n, 1);
    EXPECT_EQ(rows[5].n, 3);
    EXPECT_EQ(rows[5].r.reading.unitCode, 4);
    EXPECT_EQ(rows[5].r.utcMs, Utc(At(15, 0, 3, 0)));
}

// One unit a data file: the page ends where the unit changes, and each page
// opens in the window's reader in its unit.
TEST_F(StationWebTest, CsvPagesOpenInTheWindowsReader) {
    StationStatus status;
    status.model = QStringLiteral("KVT-PULSE1");
    status.averagingTime = QStringLiteral("45 seconds");
    struct Page {
        const QString& unit;
        std::size_t count;
    };
    // In 5-minute steps the unit changes within the step from 00:00, which
    // goes to the second page, in the unit it ends with.
    const struct {
        int step;
        std::vector<Page> pages;
    } cases[] = {{0, {{kMr, 13}, {kMicroSv, 3}}}, {300, {{kMr, 1}, {kMicroSv, 1}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        ReadingsQuery q{from, to, ReadingsQuery::Format::Csv, c.step};
        std::size_t pages = 0;
        for (; pages < c.pages.size() + 1; ++pages) {
            const ReadingsPage page = ReadReadings(recording::HistoryReader(folder), q, 1000);
            const QString file = dir.filePath(QStringLiteral("page.csv"));
            QFile out(file);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(ReadingsCsv(page, status, regional, At(15, 1, 0, 0)));
            out.close();

            files::DataFileReader reader(regional);
            files::DataFileContents contents;
            ASSERT_TRUE(reader.Open(file));
            ASSERT_TRUE(reader.Read({QStringLiteral("CPM"), kMr, kMicroSv}, &contents));
            ASSERT_LT(pages, c.pages.size());
            EXPECT_EQ(contents.leftAxisTitle, c.pages[pages].unit);
            EXPECT_EQ(contents.corruptLines, 0);
            EXPECT_EQ(contents.points.size(), c.pages[pages].count);
            if (!page.nextFromUtcMs)
                break;
            q.fromUtcMs = *page.nextFromUtcMs;
        }
        EXPECT_EQ(pages + 1, c.pages.size());
    }
}

// The answer to a request: its job reads the journal; a page over the row
// limit names the next one (to defaulting to the clock's now).
TEST_F(StationWebTest, AnswersNameTheNextPage) {
    struct : StatusSource {
        StationStatus Status() const override { return {}; }
    } source;
    const platform::ManualClock clock(0, At(15, 1, 0, 0));
    const StationRoutes web(source, folder, nullptr, clock, regional, {5});
    const HttpAnswer answer =
        web.Answer({"GET", "/api/readings", {{"from", "2012-03-14T23:00:00"}, {"format", "csv"}}});
    ASSERT_TRUE(answer.later);
    const HttpResponse response = answer.later();
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.contentType, "text/csv; charset=utf-8");
    const auto utc = [](double local) {
        return QDateTime::fromMSecsSinceEpoch(Utc(local), Qt::UTC).toString(Qt::ISODateWithMs);
    };
    const QByteArray link = "</api/readings?from=" + utc(At(14, 23, 59, 40)).toLatin1() +
                            "&to=" + utc(At(15, 1, 0, 0)).toLatin1() + "&format=csv>; rel=\"next\"";
    EXPECT_NE(std::find(response.headers.begin(), response.headers.end(),
                        std::pair<QByteArray, QByteArray>("Link", link)),
              response.headers.end());
}

TEST(ReadingsQueryTest, ReadsTheTimesPeopleWrite) {
    const qint64 now = QDateTime(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 tenUtc = QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 midnight = QDate(2026, 12, 9).startOfDay().toMSecsSinceEpoch();
    struct Case {
        std::vector<std::pair<QString, QString>> query;
        qint64 from;
        qint64 to;
        int step;
    };
    const Case cases[] = {
        {{}, now - 3600000, now, 0},
        {{{"from", "2026-12-09T11:00:00+01:00"}, {"step", "60"}}, tenUtc, now, 60},
        {{{"from", "2026-12-09T11:00:00 01:00"}}, tenUtc, now, 0}, // "+" left unencoded
        {{{"from", "2026-12-09T10:00:00.000Z"}, {"to", "2026-12-09T10:00:01Z"}},
         tenUtc,
         tenUtc + 1000,
         0},
        {{{"from", "2026-12-09"}}, midnight, now, 0},
        {{{"from", "2026-12-09T11:00+01:00"}}, tenUtc, now, 0},
        {{{"from", "2026-12-09T11:00:00+0100"}}, tenUtc, now, 0},
        {{{"from", "2026-12-09T10:00:00.123456Z"}}, tenUtc + 123, now, 0},
        // From the oldest reading, in steps that fit one answer.
        {{{"span", "all"}}, tenUtc, now, 60},
        {{{"span", "all"}, {"to", "2026-12-20T10:00:00Z"}}, tenUtc, tenUtc + 11 * 86400000, 3600},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.query = c.query;
        QString why;
        const auto q = ParseReadingsQuery(request, now, tenUtc, &why);
        ASSERT_TRUE(q) << why.toStdString();
        EXPECT_EQ(q->fromUtcMs, c.from);
        EXPECT_EQ(q->toUtcMs, c.to);
        EXPECT_EQ(q->stepSeconds, c.step);
    }
}

// Refused with a one-line reason, never read as something else.
TEST(ReadingsQueryTest, RefusesTimesThatDoNotReadWhole) {
    const char* const times[] = {
        "2026-12-09xyz",
        "2026-12-09T",
        "2026-12-09 10:00:00",
        " 2026-12-09",
        "2026-12-9",
        "2026-02-30",
        "2026-12-09T25:00:00",
        "2026-12-09T10:61:00",
        "2026-12-09T10:00:61",
        "2026-12-09T10",
        "2026-12-09T10:00:00.",
        "2026-12-09T10:00:00.1234567891",
        "2026-12-09T10:00:00+99:99",
        "2026-12-09T10:00:00+14:01",
        "2026-12-09T10:00:00+01:0",
        "2026-12-09T10:00:00Zjunk",
        "yesterday",
        "",
    };
    const qint64 now = QDateTime(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    for (const char* name : {"from", "to"}) {
        for (const char* time : times) {
            SCOPED_TRACE(std::string(name) + "=" + time);
            HttpRequest request{"GET", "/api/readings", {{name, time}}};
            QString why;
            EXPECT_FALSE(ParseReadingsQuery(request, now, std::nullopt, &why));
            EXPECT_TRUE(why.startsWith(QStringLiteral("\"%1\" is no ISO 8601").arg(name)))
                << why.toStdString();
        }
    }
    for (const auto& query : std::vector<std::vector<std::pair<QString, QString>>>{
             {{"span", "week"}}, {{"span", "all"}, {"from", "2026-12-09"}}}) {
        QString why;
        EXPECT_FALSE(ParseReadingsQuery({"GET", "/api/readings", query}, now, now, &why));
        EXPECT_FALSE(why.isEmpty());
    }
}

// Readings every 3 s from 10:00:00 to 10:01:57 and from 10:05:30 to
// 10:06:57 (a gap of 3.5 minutes), some in alarm.
class ReadingsGapTest : public testing::JournalTest {
protected:
    void SetUp() override {
        for (const auto& [from, until] : {std::pair{At(14, 10, 0, 0), At(14, 10, 2, 0)},
                                          std::pair{At(14, 10, 5, 30), At(14, 10, 7, 0)}}) {
            auto journal = Begin(from);
            int k = 0;
            for (double t = from; t < until - 1e-9; t += 3.0 / 86400, ++k) {
                device::Reading r =
                    testing::MakeReading(t, kMr, QStringLiteral("0.012"), k % 4 == 0);
                r.value = t < At(14, 10, 1, 0) ? 0.030 : 0.010;
                r.intervalMs = 3000;
                ASSERT_TRUE(journal->Append(r).ok);
            }
            journal->Close();
        }
    }
    QJsonArray Json(qint64 from, qint64 to, int step, std::size_t limit = 1000,
                    std::optional<qint64>* next = nullptr) const {
        ReadingsQuery q{from, to};
        q.stepSeconds = step;
        const ReadingsPage page = ReadReadings(recording::HistoryReader(folder), q, limit);
        if (next)
            *next = page.nextFromUtcMs;
        return QJsonDocument::fromJson(ReadingsJson(page, step, AlarmLevel{0.02, 2})).array();
    }
    static QString Time(const QJsonValue& row) { return row[QStringLiteral("time")].toString(); }
};

// A gap row at the start of the gap, between the rows on either side, on
// the page before the row after it; stepped rows tell their alarms.
TEST_F(ReadingsGapTest, GapsAndAlarmsAreTold) {
    const qint64 from = Utc(At(14, 10, 1, 54)), to = Utc(At(14, 10, 5, 33));
    const QJsonArray raw = Json(from, to, 0);
    ASSERT_EQ(raw.size(), 4);
    EXPECT_TRUE(Time(raw[1]).startsWith("2012-03-14T10:01:57.000")) << Time(raw[1]).toStdString();
    EXPECT_TRUE(raw[2][QStringLiteral("gap")].toBool());
    EXPECT_TRUE(Time(raw[2]).startsWith("2012-03-14T10:02:00.000"));
    EXPECT_TRUE(Time(raw[3]).startsWith("2012-03-14T10:05:30.000"));
    EXPECT_FALSE(raw[1].toObject().contains(QStringLiteral("gap")));

    std::optional<qint64> next;
    const QJsonArray cut = Json(from, to, 0, 2, &next);
    ASSERT_EQ(cut.size(), 3);
    EXPECT_TRUE(cut[2][QStringLiteral("gap")].toBool());
    EXPECT_EQ(next, Utc(At(14, 10, 5, 30)));
    EXPECT_FALSE(Json(*next, to, 0)[0][QStringLiteral("gap")].toBool());

    const QJsonArray minutes = Json(Utc(At(14, 10, 0, 0)), Utc(At(14, 10, 7, 0)), 60);
    ASSERT_EQ(minutes.size(), 5); // 10:00, 10:01, the gap from 10:02, 10:05, 10:06
    EXPECT_TRUE(minutes[2][QStringLiteral("gap")].toBool());
    EXPECT_TRUE(Time(minutes[2]).startsWith("2012-03-14T10:02:00.000"));
    for (const int i : {0, 1, 3, 4}) {
        SCOPED_TRACE(i);
        const QJsonValue row = minutes[i];
        const int n = row[QStringLiteral("n")].toInt();
        EXPECT_EQ(n, i == 3 ? 10 : 20);
        EXPECT_EQ(row[QStringLiteral("alarm_count")].toInt(), (n + 3) / 4);
        EXPECT_EQ(row[QStringLiteral("alarm")].toBool(), i == 0); // the mean above 0.02
    }
    // A data file has no gaps.
    ReadingsQuery csv{Utc(At(14, 10, 0, 0)), Utc(At(14, 10, 7, 0)), ReadingsQuery::Format::Csv, 60};
    const QByteArray file = ReadingsCsv(ReadReadings(recording::HistoryReader(folder), csv, 1000),
                                        {}, regional, At(14, 11, 0, 0));
    EXPECT_EQ(file.count('\n'), 7 + 4); // the header block, the column titles, four rows
}

// A counter's memory fills the gap with readings of a minute each: the
// first meets the samples before it, and a minute missing from the memory
// is within two of its periods, so nothing is a gap.
TEST_F(ReadingsGapTest, ReadingsOfAMinuteFromACountersMemoryMeetTheSamplesAround) {
    auto journal = Begin(At(14, 10, 2, 0));
    for (const int minute : {3, 5}) { // the minute to 10:04 is missing
        device::Reading r =
            testing::MakeReading(At(14, 10, minute, 0), kMr, QStringLiteral("0.012"), false);
        r.intervalMs = 60000;
        ASSERT_TRUE(journal->Append(r).ok);
    }
    journal->Close();
    QStringList rows;
    for (const QJsonValue row : Json(Utc(At(14, 10, 1, 54)), Utc(At(14, 10, 5, 33)), 0))
        rows << Time(row).mid(11, 8) + (row[QStringLiteral("gap")].toBool() ? "-gap" : "");
    EXPECT_EQ(rows, QStringList({"10:01:54", "10:01:57", "10:03:00", "10:05:00", "10:05:30"}))
        << rows.join(' ').toStdString();
}

} // namespace
} // namespace korvinet::web
