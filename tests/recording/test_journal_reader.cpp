#include "recording/journal_reader.h"
#include "support/journal_fixture.h"

#include <QDateTime>

namespace korvinet::recording {

using device::TimedReading;

namespace {

using testing::At;
using testing::kMicroSv;
using testing::kMr;
using testing::Utc;

class JournalReaderTest : public testing::JournalTest {
protected:
    std::vector<double> Times(qint64 from, qint64 to) {
        std::vector<double> times;
        for (const TimedReading& s : ReadBack(from, to))
            times.push_back(s.reading.time);
        return times;
    }
};

// Every reading comes back whole, in time order across a day boundary, a
// unit change and a restart, and a range takes exactly the moments in it.
TEST_F(JournalReaderTest, ReadsBackEveryReadingOfARange) {
    auto journal = Begin(At(14, 23, 59, 0));
    device::Reading first =
        testing::MakeReading(At(14, 23, 59, 57), kMr, QStringLiteral("0.012"), true);
    first.cpm = 7.2;
    first.counts = 3;
    first.intervalMs = 2999;
    first.band = device::RateBand{{0.008, false}, {0.017, false}};
    ASSERT_TRUE(journal->Append(first).ok);
    ASSERT_TRUE(Add(*journal, At(15, 0, 0, 0), "0.013").ok);
    journal->Close();
    journal = Begin(At(15, 0, 0, 1));
    ASSERT_TRUE(Add(*journal, At(15, 0, 0, 3), "0.140", false, kMicroSv).ok);
    journal.reset();

    const std::vector<TimedReading> all = ReadBack(Utc(At(14, 0, 0, 0)), Utc(At(16, 0, 0, 0)));
    ASSERT_EQ(all.size(), 3u);
    const device::Reading& r = all[0].reading;
    EXPECT_EQ(r.time, first.time);
    EXPECT_EQ(all[0].utcMs, Utc(first.time));
    EXPECT_EQ(r.value, 0.012);
    EXPECT_EQ(r.unitCode, 2);
    EXPECT_EQ(r.cpm, 7.2);
    EXPECT_EQ(r.counts, 3u);
    EXPECT_EQ(r.intervalMs, 2999u);
    EXPECT_TRUE(r.alarm);
    ASSERT_TRUE(r.band);
    EXPECT_EQ(r.band->low.value, 0.008);
    EXPECT_EQ(r.band->high.value, 0.017);
    EXPECT_FALSE(all[1].reading.band);
    EXPECT_EQ(all[2].reading.unitCode, 4);
    EXPECT_EQ(all[2].reading.value, 0.14);

    // [from, to): the start is in, the end is out.
    EXPECT_EQ(Times(Utc(At(15, 0, 0, 0)), Utc(At(15, 0, 0, 3))),
              std::vector<double>{At(15, 0, 0, 0)});
    EXPECT_TRUE(Times(Utc(At(16, 0, 0, 0)), Utc(At(14, 0, 0, 0))).empty());
}

// In the hour the clocks go back one local time names two moments: a line
// keeps the one its reading was taken at, so the two read back an hour apart.
TEST(JournalSampleLine, KeepsTheMomentWhenTheClocksGoBack) {
    device::Reading summer = testing::MakeReading(At(25, 2, 30, 0), kMr, QStringLiteral("0.012"));
    summer.utcOffsetSeconds = 7200;
    device::Reading winter = summer;
    winter.utcOffsetSeconds = 3600;
    const QByteArray line = JournalSampleLine(summer);
    EXPECT_TRUE(line.startsWith("2012-03-25T02:30:00.000+02:00,")) << line.constData();
    TimedReading a, b;
    ASSERT_TRUE(ParseJournalSampleLine(QByteArrayView(line).chopped(1), &a));
    ASSERT_TRUE(ParseJournalSampleLine(QByteArrayView(JournalSampleLine(winter)).chopped(1), &b));
    EXPECT_EQ(b.utcMs - a.utcMs, 3600 * 1000);
    EXPECT_EQ(a.reading.time, b.reading.time);
    EXPECT_EQ(b.reading.utcOffsetSeconds, 3600);
}

// The station shows its latest reading rounded as the journal keeps it: the
// same numbers the reading's line reads back as, so the latest reading and
// the history agree to the digit (rounding up, down and to whole numbers,
// offsets in whole minutes or not, before UTC or after).
TEST(AsJournalled, IsWhatTheLineReadsBackAs) {
    const struct {
        std::uint8_t unit;
        double value;
        double cpm;
        std::optional<int> offset;
        bool band;
    } cases[] = {
        {2, 0.0125, 7.25, 3600, true},         {2, 0.0135000001, 0.04, -19800, false},
        {3, 1234.5678, 1234.56, -16262, true}, {4, 0.105, 63.35, std::nullopt, true},
        {0, 17.95, 17.95, -30, false},         {1, 1e9 + 0.05, 1e9 + 0.05, 50400, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        device::Reading r;
        r.time = At(25, 2, 30, 59) + 0.6 / platform::kMsPerDay;
        r.utcOffsetSeconds = c.offset;
        r.unitCode = c.unit;
        r.value = c.value;
        r.cpm = c.cpm;
        r.counts = 3;
        r.intervalMs = 2999;
        if (c.band)
            r.band = device::RateBand{{c.value * 0.61, false}, {c.value * 1.63, false}};
        TimedReading read;
        ASSERT_TRUE(ParseJournalSampleLine(QByteArrayView(JournalSampleLine(r)).chopped(1), &read));
        const TimedReading kept = AsJournalled(r);
        EXPECT_EQ(kept.utcMs, read.utcMs);
        EXPECT_EQ(kept.reading.time, read.reading.time);
        EXPECT_EQ(kept.reading.utcOffsetSeconds, read.reading.utcOffsetSeconds);
        EXPECT_EQ(kept.reading.value, read.reading.value);
        EXPECT_EQ(kept.reading.cpm, read.reading.cpm);
        ASSERT_EQ(kept.reading.band.has_value(), c.band);
        if (c.band) {
            EXPECT_EQ(kept.reading.band->low.value, read.reading.band->low.value);
            EXPECT_EQ(kept.reading.band->high.value, read.reading.band->high.value);
        }
    }
}

// Lines that do not read are counted and skipped; a line still being written
// is not a reading yet.
TEST_F(JournalReaderTest, SkipsWhatDoesNotRead) {
    const struct {
        const char* line;
        bool reads;
    } cases[] = {
        {"2012-03-14T09:00:03.000+01:00,0.012,2,7.2,3,3000,0,,", true},
        {"2012-03-14T09:00:03Z,0.012,2,7.2,3,3000,1,0.008,0.017", true},
        {"2012-03-14T09:00:03.000-05:30,0.012,2,7.2,3,3000,0,,\r", true},
        {"2012-03-14 09:00:03,0.012,2,7.2,3,3000,0,,", false},
        {"2012-02-30T09:00:03Z,0.012,2,7.2,3,3000,0,,", false},
        {"2012-03-14T09:00:03Z,OVERRANGE,2,7.2,3,3000,0,,", false},
        {"2012-03-14T09:00:03Z,0.012,9,7.2,3,3000,0,,", false},
        {"2012-03-14T09:00:03Z,0.012,2,7.2,-3,3000,0,,", false},
        {"2012-03-14T09:00:03Z,0.012,2,7.2,3,3000,2,,", false},
        {"2012-03-14T09:00:03Z,0.012,2,7.2,3,3000,0,0.008,", false},
        {"2012-03-14T09:00:03Z,0.012,2,7.2,3,3000,0,,,", false},
        {"2012-03-14T09:00:03Z,nan,2,7.2,3,3000,0,,", false},
    };
    TimedReading sample;
    for (const auto& c : cases)
        EXPECT_EQ(ParseJournalSampleLine(QByteArray(c.line), &sample), c.reads) << c.line;
    EXPECT_EQ(JournalSampleLine(testing::MakeReading(At(14, 9, 0, 3), kMr, "0.012")).sliced(29),
              QByteArray(",0.012,2,0.0,0,0,0,,\n")); // after the time and its offset

    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(Path("2012-03-14.samples"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(kJournalSamplesHeader);
    file.write("2012-03-14T09:00:03Z,0.012,2,7.2,3,3000,0,,\ngarbage\n"
               "2012-03-14T09:00:06Z,0.013,2,7.2,3,3000,0,,\n2012-03-14T09:00:09Z,0.0");
    file.close();
    int seen = 0;
    const qint64 day = QDateTime(QDate(2012, 3, 14), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    EXPECT_EQ(JournalReader(folder).Visit(day, day + 86400000,
                                          [&](const TimedReading&) { return ++seen < 10; }),
              1);
    EXPECT_EQ(seen, 2);
}

} // namespace
} // namespace korvinet::recording
