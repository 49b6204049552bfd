#include "measure/measurement_session.h"
#include "support/counter_fixture.h"

#include <functional>
#include <vector>

namespace korvinet::measure {
namespace {

using Status = SessionReading::Status;

class SessionTest : public testing::CounterTest {
protected:
    MeasurementSession session{counter, clock};
    MeasurementSession::AlarmSettings alarm{true, 1.0, true};

    void SetUp() override {
        AddCounter();
        Connect();
        counter.SetAveragingWindow(1); // each reading covers its own sample
    }

    MeasurementSession::TickOutcome Tick(std::uint32_t counts, std::uint32_t ms = 3000) {
        clock.Advance(ms);
        driver.InjectPulses(0, counts);
        return session.Tick(alarm);
    }
};

// The demo counter reads 600 cpm per mR/hr with 90 us dead time: 33 counts in
// 3 s are 660 cpm raw, 1.101 mR/hr once corrected.
TEST_F(SessionTest, ReadingsCarryTheirSampleAndTheAlarmDecision) {
    const struct {
        std::uint32_t counts;
        const char* text;
        bool alarm, warning;
    } ticks[] = {
        {27, "0.901", false, false}, {33, "1.101", true, true},   {36, "1.201", true, false},
        {30, "1.001", true, false},  {29, "0.968", false, false}, {39, "1.302", true, true},
    };
    for (const auto& t : ticks) {
        const auto out = Tick(t.counts);
        const SessionReading& r = out.reading;
        SCOPED_TRACE(t.text);
        ASSERT_EQ(r.status, Status::Ok);
        EXPECT_EQ(r.time, clock.Now());
        EXPECT_EQ(r.text, t.text);
        EXPECT_EQ(r.value, counter.Reading());
        EXPECT_EQ(r.unitCode, 2);
        EXPECT_EQ(r.unitName, "mR/hr");
        EXPECT_EQ(r.cpm, 20.0 * t.counts); // uncorrected
        EXPECT_EQ(r.counts, t.counts);
        EXPECT_EQ(r.intervalMs, 3000u);
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_EQ(r.alarm, t.alarm);
        // The band of the one-sample window, in mR/hr, around the reading.
        ASSERT_TRUE(r.band);
        EXPECT_LT(r.band->low.value, r.value);
        EXPECT_GT(r.band->high.value, r.value);
        EXPECT_EQ(out.alarm.beep, t.alarm);
        EXPECT_EQ(out.alarm.showWarning, t.warning);
        EXPECT_EQ(out.warningText,
                  t.warning
                      ? QStringLiteral("CAUTION! ALARM THRESHOLD EXCEEDED! ") + t.text + " mR/hr"
                      : QString());
    }
    EXPECT_EQ(counter.AccumulatedTotal(), 27u + 33 + 36 + 30 + 29 + 39);
}

// A failed tick says why, leaves the counter closed
// and never raises the alarm, however low the level.
TEST_F(SessionTest, FailedTicksCloseTheCounterAndAreReported) {
    const struct {
        const char* name;
        std::function<void()> fault;
        std::uint32_t counts;
        Status status;
        const char* error;
        const char* text;
    } cases[] = {
        {"overrange", [] {}, 40000, Status::Overrange,
         "CAUTION: READING OVERRANGE!  DATA IS INVALID!", "OVERRANGE"},
        {"driver", [this] { driver.FailCall(device::SimulatedDriver::Op::GetQueueStatus); }, 5,
         Status::Failed, "Failed to get counts", ""},
        // Unplugged, it cannot be closed either: the step that failed is said.
        {"unplugged", [this] { driver.DetachDevice(0); }, 5, Status::Failed, "Failed to get counts",
         ""},
        {"closed", [this] { ASSERT_TRUE(counter.Close()); }, 5, Status::Failed, "Device not open!",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!counter.IsOpen()) {
            driver.ClearFaults();
            driver.AttachDevice(0);
            Connect();
        }
        alarm.level = 0.001;
        c.fault();
        const auto out = Tick(c.counts);
        EXPECT_EQ(out.reading.status, c.status);
        EXPECT_EQ(out.reading.error, c.error);
        EXPECT_EQ(out.reading.text, c.text);
        EXPECT_EQ(out.reading.time, clock.Now());
        const bool sampled = c.status == Status::Overrange;
        EXPECT_EQ(out.reading.value, sampled ? device::TCounter::kOverrange : 0.0);
        EXPECT_EQ(out.reading.counts, sampled ? c.counts : 0u);
        EXPECT_EQ(out.reading.intervalMs, sampled ? 3000u : 0u);
        EXPECT_FALSE(out.reading.alarm || out.alarm.beep || out.alarm.showWarning);
        EXPECT_FALSE(out.reading.band);
        EXPECT_FALSE(counter.IsOpen() || driver.IsOpen(0));
    }
}

// The band covers the counter's averaging window, its live milliseconds and
// its dead-time correction: 5 counts in 3 s are 1.6235-11.6683 counts.
TEST_F(SessionTest, BandFollowsTheWindowAndTheUnit) {
    const auto compensated = [](double counts, double ms) {
        const double cpm = counts * 60000 / ms;
        return cpm / (1 - cpm * 90e-6 / 60);
    };
    Tick(5);
    auto out = Tick(5, 3000);
    EXPECT_NEAR(out.reading.band->low.value, compensated(1.6235, 3000) / 600, 1e-4 * 0.0541);
    counter.SetAveragingWindow(2);
    counter.SetUnitCode(1); // CPM
    out = Tick(5, 2000);
    EXPECT_NEAR(out.reading.band->low.value, compensated(4.7954, 5000), 1e-4 * 57.5);
    EXPECT_NEAR(out.reading.band->high.value, compensated(18.3904, 5000), 1e-4 * 220.7);
    EXPECT_FALSE(out.reading.band->high.capped);
}

// A silence is reported on every tick of it while the warning is on, with
// one warning per silence; a warning turned on during a silence gives it
// then. A new connection forgets the old counter's rate.
TEST_F(SessionTest, CountsStoppedOncePerSilence) {
    for (int i = 0; i < 200; ++i)
        Tick(60); // 1200 CPM: a stop after the 30-s floor
    std::string seen;
    QStringList texts;
    const auto run = [&](std::uint32_t counts, int ticks) {
        for (int i = 0; i < ticks; ++i) {
            const auto out = Tick(counts);
            seen += out.showCountsStopped ? 'W' : out.reading.countsStopped ? 's' : '-';
            if (out.showCountsStopped)
                texts << out.countsStoppedText.section(QLatin1Char(':'), 0, 0);
        }
    };
    run(0, 12);
    run(5, 1);
    alarm.countsStoppedWarning = false;
    run(0, 11);
    alarm.countsStoppedWarning = true;
    run(0, 2);
    EXPECT_EQ(seen, "---------Wss-"
                    "----------"
                    "-"
                    "Ws");

    // 12000 / 60 s without a rate to go by.
    session.CounterConnected();
    seen.clear();
    run(0, 67);
    EXPECT_EQ(seen.find('W'), 66u);
    EXPECT_EQ(texts, QStringList({"No counts for 30 seconds", "No counts for 36 seconds",
                                  "No counts for 201 seconds"}));
}

} // namespace
} // namespace korvinet::measure
