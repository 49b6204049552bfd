// A counter's own memory fills the journal's gap when it is connected: each
// record once, on the computer's clock, never over what the journal holds.
#include "device/simulated_driver.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "recording/history_reader.h"
#include "recording/journal_folder.h"
#include "recording/journal_reader.h"
#include "recording/recorder.h"
#include "support/memory_counter.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvinet {
namespace {

constexpr qint64 kMinute = 60000;
constexpr qint64 kHour = 60 * kMinute;

struct Backfills final : ReadingSink {
    std::vector<CounterEvent> events;
    void OnReading(const SessionReading&) override {}
    void OnCounter(const CounterEvent& e) override {
        if (e.kind == CounterEvent::Kind::Backfilled)
            events.push_back(e);
    }
    void Stop(const std::function<void()>& done) override { done(); }
};

class MemoryBackfillTest : public ::testing::Test {
protected:
    ManualClock clock{123456, 40982.375}; // 2012-03-14 09:00 local
    SimulatedDriver driver{clock, 7};     // no counter of its own
    Regional regional{QLocale::c()};
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("recordings"));
    testing::FakeCounterMemory memory;
    testing::MemoryCounterFinder finder{&memory};
    Backfills heard;

    std::unique_ptr<Recorder> Start() {
        auto recorder = std::make_unique<Recorder>(driver, clock, regional,
                                                   Recorder::Options{folder, 30}, &finder);
        recorder->AddSink(heard);
        recorder->StartRecording();
        EXPECT_TRUE(recorder->IsRecording());
        EXPECT_EQ(recorder->ListCounters(), 1);
        return recorder;
    }
    static void Live(Recorder& recorder, ManualClock& clock, int samples) {
        for (int i = 0; i < samples; ++i) {
            clock.Advance(3000);
            EXPECT_TRUE(recorder.Tick({}).reading.Ok());
        }
    }
    qint64 NowUtc() const {
        const Clock::Moment now = clock.NowWithOffset();
        return QtFromDateTime(now.local, now.utcOffsetSeconds).toMSecsSinceEpoch();
    }
    std::vector<TimedReading> Journal() const {
        std::vector<TimedReading> all;
        JournalReader(folder).Visit(0, std::numeric_limits<qint64>::max(),
                                    [&](const TimedReading& t) {
                                        all.push_back(t);
                                        return true;
                                    });
        return all;
    }
};

// The computer was off for two hours while the counter logged a record a
// minute, with its clock set anywhere: the records wholly inside the gap
// are journalled at their end on the computer's clock, across a break in
// the log; one overlapping the last reading, one ending on it and one in
// the future are not; connecting again adds nothing.
TEST_F(MemoryBackfillTest, TheGapIsFilledOnceWhateverTheCountersClock) {
    for (const qint64 offset : {qint64{0}, 3 * kHour + 1234, -5 * kHour - 30 * kMinute}) {
        SCOPED_TRACE(offset);
        ASSERT_TRUE(QDir(folder).removeRecursively() || !QDir(folder).exists());
        heard.events.clear();
        memory.offsetMs = offset;
        memory.records.clear();

        auto recorder = Start();
        ASSERT_EQ(recorder->Connect(0, {}), Recorder::Connection::Ready);
        Live(*recorder, clock, 20);
        const qint64 last = Journal().back().utcMs;
        recorder->Close();
        recorder.reset();

        clock.Advance(2 * kHour);
        const qint64 now = NowUtc();
        std::vector<qint64> expected; // ends on the computer's clock
        const auto record = [&](qint64 end, std::uint32_t ms, std::uint32_t counts) {
            memory.records.push_back({end + offset, ms, counts});
        };
        record(last - 10 * kMinute, 60000, 9); // long journalled
        record(last, 60000, 9);                // ends on the last reading
        record(last + 30000, 60000, 9);        // begins before it
        for (qint64 end = last + 30000 + kMinute; end < now - 5000; end += kMinute) {
            if (end > last + 40 * kMinute && end < last + 50 * kMinute)
                continue; // switched off for ten minutes
            record(end, 60000, static_cast<std::uint32_t>(expected.size() % 7));
            expected.push_back(end);
        }
        record(now + 5 * kMinute, 60000, 9); // the future

        recorder = Start();
        ASSERT_EQ(recorder->Connect(0, {}), Recorder::Connection::Ready);
        Live(*recorder, clock, 3);
        ASSERT_TRUE(recorder->Disconnect());
        ASSERT_EQ(recorder->Connect(0, {}), Recorder::Connection::Ready);
        Live(*recorder, clock, 3);

        std::vector<qint64> filled;
        const std::vector<TimedReading> journal = Journal();
        for (std::size_t i = 0; i < journal.size(); ++i) {
            const TimedReading& t = journal[i];
            // No reading's interval reaches back over another.
            if (i > 0) {
                ASSERT_GE(t.utcMs - t.reading.intervalMs, journal[i - 1].utcMs) << i;
            }
            if (t.utcMs > last && t.utcMs < now)
                filled.push_back(t.utcMs);
        }
        EXPECT_EQ(filled, expected);
        ASSERT_EQ(heard.events.size(), 1u);
        EXPECT_EQ(heard.events[0].readings, static_cast<int>(expected.size()));
        EXPECT_EQ(heard.events[0].afterUtcMs, last);
        EXPECT_EQ(heard.events[0].firstUtcMs, expected.front());
        EXPECT_EQ(heard.events[0].lastUtcMs, expected.back());
        EXPECT_EQ(memory.reads, 3);
        memory.reads = 0;

        // In parts of their own, with the counter's conversion: 600 CPM per
        // mR/hr, the display unit mR/hr.
        const QDate day = JournalDay(clock.Now());
        EXPECT_TRUE(QFile::exists(QDir(folder).filePath(JournalSamplesName(day, 1, true))));
        EXPECT_TRUE(QFile::exists(QDir(folder).filePath(JournalFile{day, 1, true}.Name())));
        const auto second = std::find_if(journal.begin(), journal.end(),
                                         [&](const auto& t) { return t.utcMs == expected[1]; });
        ASSERT_NE(second, journal.end());
        EXPECT_EQ(second->reading.cpm, 1.0);
        EXPECT_NEAR(second->reading.value, 1.0 / 600, 0.0005);

        // The history's summaries hold every reading the journal holds.
        recorder->Close();
        std::int64_t summed = 0;
        HistoryReader(folder).Steps(0, now + kHour, 3600, [&](const HistorySummary& s) {
            summed += s.n;
            return true;
        });
        EXPECT_EQ(summed, static_cast<std::int64_t>(journal.size()));
    }
}

// A counter that does not answer for its memory is closed, as one that
// fails its set-up is, and nothing reaches the journal.
TEST_F(MemoryBackfillTest, AMemoryThatDoesNotAnswerClosesTheCounter) {
    memory.answers = false;
    auto recorder = Start();
    EXPECT_EQ(recorder->Connect(0, {}), Recorder::Connection::Closed);
    EXPECT_FALSE(recorder->Counter().IsOpen());
    EXPECT_EQ(recorder->Counter().FailureCause(),
              QStringLiteral("no answer to the data log request"));
    EXPECT_TRUE(Journal().empty());
}

} // namespace
} // namespace korvinet
