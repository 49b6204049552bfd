// The history answers from a journal written by the real RecordingJournal:
// pages that chain to exactly its readings, steps, the data file the window
// opens, and the link to the next page.
#include "platform/clock.h"
#include "recording/history_reader.h"
#include "support/journal_fixture.h"
#include "web/readings_query.h"
#include "web/station_routes.h"

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
            const ReadingsPage page = ReadReadings(HistoryReader(folder), q, limit);
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
    const std::vector<TimedReading> journal = ReadBack(from, to);
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
    ReadingsQuery q{from, to, ReadingsQuery::Format::Csv};
    StationStatus status;
    status.model = QStringLiteral("KVT-PULSE1");
    status.averagingTime = QStringLiteral("45 seconds");
    const struct {
        const QString& unit;
        std::size_t count;
    } expected[] = {{kMr, 13}, {kMicroSv, 3}};
    for (const auto& e : expected) {
        const ReadingsPage page = ReadReadings(HistoryReader(folder), q, 1000);
        const QString file = dir.filePath(QStringLiteral("page.csv"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(ReadingsCsv(page, status, regional, At(15, 1, 0, 0)));
        out.close();

        DataFileReader reader(regional);
        DataFileContents contents;
        ASSERT_TRUE(reader.Open(file));
        ASSERT_TRUE(reader.Read({QStringLiteral("CPM"), kMr, kMicroSv}, &contents));
        EXPECT_EQ(contents.leftAxisTitle, e.unit);
        EXPECT_EQ(contents.corruptLines, 0);
        EXPECT_EQ(contents.points.size(), e.count);
        if (!page.nextFromUtcMs)
            break;
        q.fromUtcMs = *page.nextFromUtcMs;
    }
}

// The answer to a request: its job reads the journal; a page over the row
// limit names the next one (to defaulting to the clock's now).
TEST_F(StationWebTest, AnswersNameTheNextPage) {
    struct : StatusSource {
        StationStatus Status() const override { return {}; }
    } source;
    const ManualClock clock(0, At(15, 1, 0, 0));
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
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.query = c.query;
        QString why;
        const auto q = ParseReadingsQuery(request, now, std::nullopt, &why);
        ASSERT_TRUE(q) << why.toStdString();
        EXPECT_EQ(q->fromUtcMs, c.from);
        EXPECT_EQ(q->toUtcMs, c.to);
        EXPECT_EQ(q->stepSeconds, c.step);
    }
}

} // namespace
} // namespace korvinet::web
