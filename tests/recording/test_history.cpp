// The history store against the journal it summarises: every span and step
// gives the numbers a brute-force read of the .samples files gives, while
// recording, for another process, after a crash, after the summaries were
// damaged, and after the raw readings have expired; how far back each
// resolution reaches.
#include "recording/history_database.h"
#include "recording/history_reader.h"
#include "recording/history_store.h"
#include "support/journal_fixture.h"

#include <map>

namespace korvinet::recording {
namespace {

using testing::At;
using testing::Utc;

constexpr double kSecond = 1.0 / 86400;

// What a step holds, summed by hand from the journal's readings.
struct Step {
    qint64 start = 0;
    int unit = 0;
    qint64 n = 0, counts = 0, intervalMs = 0, alarms = 0, banded = 0, first = 0, last = 0;
    double sum = 0, min = 0, max = 0, cpm = 0, low = 0, high = 0;
};

class HistoryTest : public testing::JournalTest {
protected:
    // Readings every 30 s from 22:00 on the 14th to 01:30 on the 15th, with
    // a clean restart within the minute 23:20, a crash at 23:50 (the minute
    // under way never written), midnight, a change from mR/hr to µSv/hr
    // within the minute 00:30, and none from 00:40 to 00:55.
    void Record() {
        const struct {
            double until;
            bool crash;
        } sessions[] = {
            {At(14, 23, 20, 0), false}, {At(14, 23, 50, 7), true}, {At(15, 1, 30, 0), false}};
        double t = At(14, 22, 0, 0);
        int k = 0;
        for (const auto& session : sessions) {
            auto journal = Begin(t);
            store = std::make_unique<HistoryStore>(folder);
            QString why;
            ASSERT_TRUE(store->Open(Utc(t), &why)) << why.toStdString();
            for (; t < session.until; t += 30 * kSecond, ++k)
                if (t < At(15, 0, 40, 0) || t >= At(15, 0, 55, 0))
                    store->Recorded(ReadingAt(t, k), journal->Append(ReadingAt(t, k)).ok);
            if (!session.crash) {
                store->Close();
                journal->Close();
            }
            if (&session != &sessions[2])
                store.reset();
        }
    }

    static device::Reading ReadingAt(double t, int k) {
        device::Reading r;
        r.time = t;
        r.unitCode = t < At(15, 0, 30, 30) ? 2 : 4;
        r.value = (r.unitCode == 2 ? 0.010 : 0.10) + (k % 13) * 0.001;
        r.cpm = r.value * 600;
        r.counts = k % 5;
        r.intervalMs = 30000;
        r.alarm = k % 7 == 0;
        if (k % 5 != 0)
            r.band = device::RateBand{{r.value / 2, false}, {r.value * 2, false}};
        return r;
    }

    // The steps of [from, to) as the journal's readings make them.
    std::vector<Step> BruteForce(double from, double to, int seconds) const {
        const qint64 period = seconds % 3600 == 0 ? 3600000 : seconds % 60 == 0 ? 60000 : 1;
        const qint64 grid = Utc(from) / period * period;
        const qint64 stepMs = seconds * 1000LL;
        const qint64 end = grid + (Utc(to) - grid + stepMs - 1) / stepMs * stepMs;
        std::map<std::pair<qint64, int>, Step> steps;
        for (const device::TimedReading& t : ReadBack(grid, end)) {
            const device::Reading& r = t.reading;
            Step& s = steps[{(t.utcMs - grid) / stepMs, r.unitCode}];
            if (s.n++ == 0) {
                s = {grid + (t.utcMs - grid) / stepMs * stepMs, r.unitCode, 1};
                s.min = s.max = r.value;
                s.first = t.utcMs;
            }
            s.sum += r.value;
            s.min = std::min(s.min, r.value);
            s.max = std::max(s.max, r.value);
            s.cpm += r.cpm;
            s.counts += r.counts;
            s.intervalMs += r.intervalMs;
            s.alarms += r.alarm;
            s.banded += r.band.has_value();
            s.low += r.band ? r.band->low.value : 0;
            s.high += r.band ? r.band->high.value : 0;
            s.last = t.utcMs;
        }
        std::vector<Step> ordered;
        for (const auto& [key, s] : steps)
            ordered.push_back(s);
        std::stable_sort(ordered.begin(), ordered.end(), [](const Step& a, const Step& b) {
            return a.start != b.start ? a.start < b.start : a.first < b.first;
        });
        return ordered;
    }

    static void ExpectSame(const HistoryReader& reader, double from, double to, int seconds,
                           const std::vector<Step>& expected) {
        std::vector<HistorySummary> steps;
        reader.Steps(Utc(from), Utc(to), seconds, [&](const HistorySummary& s) {
            steps.push_back(s);
            return true;
        });
        ASSERT_EQ(steps.size(), expected.size());
        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(i);
            const HistorySummary& s = steps[i];
            const Step& e = expected[i];
            EXPECT_EQ(s.startUtcMs, e.start);
            EXPECT_EQ(s.unitCode, e.unit);
            EXPECT_EQ(std::vector<qint64>({s.n, s.counts, s.intervalMs, s.alarms, s.banded,
                                           s.firstUtcMs, s.lastUtcMs}),
                      std::vector<qint64>(
                          {e.n, e.counts, e.intervalMs, e.alarms, e.banded, e.first, e.last}));
            EXPECT_NEAR(s.Mean(), e.sum / e.n, 1e-12);
            EXPECT_NEAR(s.MeanCpm(), e.cpm / e.n, 1e-9);
            EXPECT_EQ(s.valueMin, e.min);
            EXPECT_EQ(s.valueMax, e.max);
            EXPECT_NEAR(s.lowSum, e.low, 1e-9);
            EXPECT_NEAR(s.highSum, e.high, 1e-9);
        }
    }

    std::unique_ptr<HistoryStore> store;
};

TEST_F(HistoryTest, StepsAreTheJournalsReadingsSummed) {
    Record();
    const struct {
        const char* what;
        double from, to;
        int step;
    } cases[] = {
        {"readings in 90 s steps", At(14, 22, 0, 0), At(15, 1, 30, 0), 90},
        {"minutes across midnight and the unit change", At(14, 23, 58, 10), At(15, 0, 35, 0), 60},
        {"5 minutes across the crash and the gap", At(14, 23, 30, 0), At(15, 1, 0, 0), 300},
        {"90 minutes of minutes", At(14, 22, 0, 0), At(15, 1, 30, 0), 5400},
        {"hours, from within one", At(14, 22, 30, 30), At(15, 1, 30, 0), 3600},
        {"a day", At(14, 12, 0, 0), At(15, 12, 0, 0), 86400},
    };
    std::vector<std::vector<Step>> expected;
    for (const auto& c : cases)
        expected.push_back(BruteForce(c.from, c.to, c.step));
    const auto all = [&](const char* phase, const HistoryReader& reader, bool raw = true) {
        SCOPED_TRACE(phase);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(cases[i].what);
            const bool summaries = cases[i].step % 60 == 0;
            ExpectSame(reader, cases[i].from, cases[i].to, cases[i].step,
                       summaries || raw ? expected[i] : std::vector<Step>{});
        }
    };
    // The minute under way is in memory only; another process reads it from
    // the journal.
    all("recording", HistoryReader(folder, store->Live()));
    all("another process", HistoryReader(folder));
    std::vector<device::TimedReading> recent;
    HistoryReader(folder, store->Live())
        .Readings(Utc(At(15, 1, 20, 0)), Utc(At(15, 2, 0, 0)), [&](const device::TimedReading& t) {
            recent.push_back(t);
            return true;
        });
    EXPECT_TRUE(HistoryReader(folder, store->Live()).InMemory(Utc(At(15, 1, 20, 0))));
    EXPECT_EQ(recent.size(), ReadBack(Utc(At(15, 1, 20, 0)), Utc(At(15, 2, 0, 0))).size());

    // Damaged summaries are made again from the journal, the file kept.
    store.reset();
    const QString path = HistoryDatabase::PathIn(folder);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_GT(file.size(), 8192);
        file.seek(4096);
        file.write(QByteArray(4096, '\x5a'));
    }
    store = std::make_unique<HistoryStore>(folder);
    QString why;
    ASSERT_TRUE(store->Open(Utc(At(15, 1, 30, 0)), &why)) << why.toStdString();
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".damaged")));
    all("made again", HistoryReader(folder));

    // The summaries outlive the raw readings.
    store->Close();
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.samples")}))
        ASSERT_TRUE(QFile::remove(QDir(folder).filePath(name)));
    all("raw readings expired", HistoryReader(folder), false);
    EXPECT_FALSE(HistoryReader(folder).Reach(HistoryReader::Resolution::Readings));
    EXPECT_EQ(HistoryReader(folder).Reach(HistoryReader::Resolution::Minutes),
              Utc(At(14, 22, 0, 0)));
    store = std::make_unique<HistoryStore>(folder);
    ASSERT_TRUE(store->Open(Utc(At(15, 1, 30, 0)), &why)) << why.toStdString();
    const auto first = store->Live()->First();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->utcMs, Utc(At(14, 22, 0, 0)));
    EXPECT_EQ(first->reading.time, At(14, 22, 0, 0));
}

// When the journal fails to keep readings (none written, or written but
// reported failed), the summaries and the recent readings follow the
// journal, not what they were handed.
TEST_F(HistoryTest, AJournalThatFailsIsFollowed) {
    auto journal = Begin(At(14, 10, 0, 0));
    store = std::make_unique<HistoryStore>(folder);
    QString why;
    ASSERT_TRUE(store->Open(Utc(At(14, 10, 0, 0)), &why)) << why.toStdString();
    const HistoryReader reader(folder, store->Live());
    int k = 0;
    for (double t = At(14, 10, 0, 0); t < At(14, 10, 30, 0); t += 30 * kSecond, ++k) {
        const bool lost = k >= 20 && k < 24; // 10:10 to 10:12
        const bool failed = lost || k == 30; // 10:15 is written all the same
        store->Recorded(ReadingAt(t, k), !failed && journal->Append(ReadingAt(t, k)).ok);
        if (failed) {
            EXPECT_FALSE(reader.InMemory(Utc(t))); // the newest are not known
            ASSERT_TRUE(lost || journal->Append(ReadingAt(t, k)).ok);
        }
    }
    for (const int step : {60, 600, 3600})
        ExpectSame(reader, At(14, 10, 0, 0), At(14, 10, 30, 0), step,
                   BruteForce(At(14, 10, 0, 0), At(14, 10, 30, 0), step));
    EXPECT_TRUE(reader.InMemory(Utc(At(14, 10, 25, 0))));
}

// Readings the journal is given late, for minutes and hours the summaries
// have passed (a counter's memory filling a gap), are summed in once: when
// the store is told, and after a crash between its rewind and the journal.
TEST_F(HistoryTest, LateReadingsAreSummedInOnce) {
    for (const bool crash : {false, true}) {
        SCOPED_TRACE(crash ? "crash" : "told");
        dir.remove();
        ASSERT_TRUE(QDir().mkpath(folder));
        auto journal = Begin(At(14, 10, 0, 0));
        store = std::make_unique<HistoryStore>(folder);
        QString why;
        ASSERT_TRUE(store->Open(Utc(At(14, 10, 0, 0)), &why)) << why.toStdString();
        int k = 0;
        for (double t = At(14, 10, 0, 0); t < At(14, 11, 20, 0); t += 30 * kSecond, ++k)
            if (t < At(14, 10, 20, 0) || t >= At(14, 11, 0, 0))
                store->Recorded(ReadingAt(t, k), journal->Append(ReadingAt(t, k)).ok);
        RecordingJournal memory(folder, regional, true);
        ASSERT_TRUE(store->Rewind(Utc(At(14, 10, 30, 0))));
        if (crash)
            store.reset();
        for (double t = At(14, 10, 30, 0); t < At(14, 10, 50, 0); t += 60 * kSecond, ++k)
            ASSERT_TRUE(memory.Append(ReadingAt(t, k)).ok);
        if (crash) {
            store = std::make_unique<HistoryStore>(folder);
            ASSERT_TRUE(store->Open(Utc(At(14, 11, 20, 0)), &why)) << why.toStdString();
        } else {
            store->TakeLate(Utc(At(14, 11, 20, 0)));
        }
        store->Close();
        for (const int step : {60, 600, 3600})
            ExpectSame(HistoryReader(folder), At(14, 10, 0, 0), At(14, 11, 30, 0), step,
                       BruteForce(At(14, 10, 0, 0), At(14, 11, 30, 0), step));
    }
}

// Minute summaries go after their keeping, hour summaries stay; a store
// that cannot keep summaries at all (its file's name taken by a folder)
// leaves the readers to the journal's files, with the same numbers.
TEST_F(HistoryTest, MinutesExpireHoursStayAndNoStoreStillAnswers) {
    auto journal = Begin(At(12, 12, 0, 0));
    store = std::make_unique<HistoryStore>(folder, HistoryStore::Options{1});
    QString why;
    ASSERT_TRUE(store->Open(Utc(At(12, 12, 0, 0)), &why)) << why.toStdString();
    int k = 0;
    for (double t = At(12, 12, 0, 0); t < At(14, 13, 0, 0); t += 1800 * kSecond, ++k)
        store->Recorded(ReadingAt(t, k), journal->Append(ReadingAt(t, k)).ok);
    store->Close();
    // They go once a day, and at a start.
    store = std::make_unique<HistoryStore>(folder, HistoryStore::Options{1});
    ASSERT_TRUE(store->Open(Utc(At(14, 13, 0, 0)), &why)) << why.toStdString();
    const double from = At(12, 0, 0, 0), to = At(15, 0, 0, 0);
    const std::vector<Step> hours = BruteForce(from, to, 3600);
    std::vector<Step> minutes = BruteForce(from, to, 60);
    std::erase_if(minutes, [](const Step& s) { return s.start < Utc(At(13, 13, 0, 0)); });
    ExpectSame(HistoryReader(folder), from, to, 3600, hours);
    ExpectSame(HistoryReader(folder), from, to, 60, minutes);
    using Resolution = HistoryReader::Resolution;
    EXPECT_EQ(HistoryReader(folder).Reach(Resolution::Readings), Utc(At(12, 12, 0, 0)));
    EXPECT_EQ(HistoryReader(folder).Reach(Resolution::Minutes), Utc(At(13, 13, 0, 0)));
    EXPECT_EQ(HistoryReader(folder).Reach(Resolution::Hours), Utc(At(12, 12, 0, 0)));

    store.reset();
    const QString path = HistoryDatabase::PathIn(folder);
    for (const QString& name : QDir(folder).entryList({QStringLiteral("history.sqlite*")}))
        ASSERT_TRUE(QFile::remove(QDir(folder).filePath(name)));
    ASSERT_TRUE(QDir().mkdir(path));
    store = std::make_unique<HistoryStore>(folder);
    EXPECT_FALSE(store->Open(Utc(At(14, 13, 0, 0)), &why));
    EXPECT_TRUE(why.contains(path)) << why.toStdString();
    ExpectSame(HistoryReader(folder, store->Live()), from, to, 3600, hours);
    ExpectSame(HistoryReader(folder, store->Live()), from, to, 60, BruteForce(from, to, 60));
    EXPECT_EQ(HistoryReader(folder).Reach(Resolution::Minutes), Utc(At(12, 12, 0, 0)));
}

} // namespace
} // namespace korvinet::recording
