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

namespace korvinet::recording {
namespace {

constexpr qint64 kMinute = 60000, kHour = 60 * kMinute;

struct Backfills final : measure::ReadingSink {
    std::vector<measure::CounterEvent> events;
    void OnReading(const measure::SessionReading&) override {}
    void OnCounter(const measure::CounterEvent& e) override {
        if (e.kind == measure::CounterEvent::Kind::Backfilled)
            events.push_back(e);
    }
    void Stop(const std::function<void()>& done) override { done(); }
};

class MemoryBackfillTest : public ::testing::Test {
protected:
    platform::ManualClock clock{123456, 40982.375}; // 2012-03-14 09:00 local
    device::SimulatedDriver driver{clock, 7};       // no counter of its own
    platform::Regional regional{QLocale::c()};
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("recordings"));
    testing::FakeCounterMemory memory;
    testing::MemoryCounter::Finder finder{&memory};
    Backfills heard;

    // Started, connected (before recording starts, as the window does, when
    // `early`), and `samples` live readings taken.
    std::unique_ptr<Recorder> Run(int samples, Recorder::Connection expected = {},
                                  bool early = false) {
        auto recorder = std::make_unique<Recorder>(driver, clock, regional,
                                                   Recorder::Options{folder, 30}, &finder);
        recorder->AddSink(heard);
        EXPECT_EQ(recorder->ListCounters(), 1);
        const auto connect = [&] { EXPECT_EQ(recorder->Connect(0, {}), expected); };
        if (early)
            connect();
        recorder->StartRecording();
        if (!early)
            connect();
        for (int i = 0; i < samples; ++i) {
            clock.Advance(3000);
            EXPECT_TRUE(recorder->Tick({}).reading.Ok());
        }
        return recorder;
    }
    std::vector<device::TimedReading> Journal() const {
        std::vector<device::TimedReading> all;
        JournalReader(folder).Visit(0, std::numeric_limits<qint64>::max(), [&](const auto& t) {
            all.push_back(t);
            return true;
        });
        return all;
    }
};

// The computer was off for two hours while the counter logged a record a
// minute, its clock set anywhere: the records wholly inside the gap are
// journalled at their end on the computer's clock, across a break in the
// log; one overlapping the last reading, one ending on it and one in the
// future are not; connecting again adds nothing. The history sums them all.
// So it is when the counter was connected before recording began.
TEST_F(MemoryBackfillTest, TheGapIsFilledOnceWhateverTheCountersClock) {
    const struct {
        qint64 offset;
        bool early;
    } cases[] = {{0, false}, {3 * kHour + 1234, false}, {-5 * kHour - 30 * kMinute, true}};
    for (const auto [offset, early] : cases) {
        SCOPED_TRACE(offset);
        ASSERT_TRUE(QDir(folder).removeRecursively());
        heard.events.clear();
        memory = {};
        memory.offsetMs = offset;
        Run(20)->Close();
        const qint64 last = Journal().back().utcMs;

        clock.Advance(2 * kHour);
        const qint64 now = platform::QtFromDateTime(clock.Now()).toMSecsSinceEpoch();
        std::vector<qint64> expected; // ends on the computer's clock
        const auto record = [&](qint64 end, std::uint32_t counts = 9) {
            memory.records.push_back({end + offset, 60000, counts});
        };
        record(last - 10 * kMinute); // long journalled
        record(last);                // ends on the last reading
        record(last + 30000);        // begins before it
        for (qint64 end = last + 90000; end < now - 5000; end += kMinute) {
            if (end < last + 40 * kMinute || end > last + 50 * kMinute) { // else switched off
                record(end, expected.size() % 7);
                expected.push_back(end);
            }
        }
        record(now + 5 * kMinute); // the future

        auto recorder = Run(3, Recorder::Connection::Ready, early);
        ASSERT_TRUE(recorder->Disconnect());
        ASSERT_EQ(recorder->Connect(0, {}), Recorder::Connection::Ready);
        recorder->Close();

        std::vector<qint64> filled;
        const std::vector<device::TimedReading> journal = Journal();
        for (std::size_t i = 1; i < journal.size(); ++i) {
            // No reading's interval reaches back over another.
            ASSERT_GE(journal[i].utcMs - journal[i].reading.intervalMs, journal[i - 1].utcMs);
            if (journal[i].utcMs > last && journal[i].utcMs < now)
                filled.push_back(journal[i].utcMs);
        }
        EXPECT_EQ(filled, expected);
        ASSERT_EQ(heard.events.size(), 1u);
        const measure::CounterEvent& e = heard.events[0];
        EXPECT_EQ(std::vector<qint64>({e.readings, e.afterUtcMs, e.firstUtcMs, e.lastUtcMs}),
                  std::vector<qint64>(
                      {qint64(expected.size()), last, expected.front(), expected.back()}));
        EXPECT_EQ(memory.reads, 3);
        // In parts of their own, converted as the counter's live readings.
        const QDate day = JournalDay(clock.Now());
        EXPECT_TRUE(QFile::exists(QDir(folder).filePath(JournalSamplesName(day, 1, true))));
        EXPECT_TRUE(QFile::exists(QDir(folder).filePath(JournalFile{day, 1, true}.Name())));
        const auto second = std::find_if(journal.begin(), journal.end(),
                                         [&](const auto& t) { return t.utcMs == expected[1]; });
        EXPECT_EQ(second->reading.cpm, 1.0);
        EXPECT_NEAR(second->reading.value, 1.0 / 600, 0.0005); // in mR/hr
        qint64 summed = 0;
        HistoryReader(folder).Steps(last - kHour, now + kHour, 3600, [&](const HistorySummary& s) {
            summed += s.n;
            return true;
        });
        EXPECT_EQ(summed, qint64(journal.size()));
    }
}

// A counter that does not answer for its memory is closed, as one that
// fails its set-up is, and nothing reaches the journal.
TEST_F(MemoryBackfillTest, AMemoryThatDoesNotAnswerClosesTheCounter) {
    memory.answers = false;
    auto recorder = Run(0, Recorder::Connection::Closed);
    EXPECT_FALSE(recorder->Counter().IsOpen());
    EXPECT_EQ(recorder->Counter().FailureCause(),
              QStringLiteral("no answer to the data log request"));
    EXPECT_TRUE(Journal().empty());
}

} // namespace
} // namespace korvinet::recording
