#include "measure/alarm.h"
#include "measure/poisson.h"
#include "measure/significance_alarm.h"
#include "pulse_simulation.h"

#include <gtest/gtest.h>

namespace korvinet::measure {
namespace {

using testing::DirectWindow;
using testing::Draws;
using testing::PulseRig;

// Background 20 CPM, alarm level 40 CPM, 15-s averaging window throughout.
constexpr double kBackground = 20;
constexpr double kLevel = 40;
constexpr int kWindow = 5;

// Step by step through the real sampler, exact counts per 3-s sample, level
// in "CPM (uncomp)" so 2 counts a sample are the level exactly.
TEST(SignificanceAlarm, SetsOnEvidenceAndClearsAfterAFullQuietWindow) {
    enum Action { None, Disable, Reset, Level20, Level40, Level1000 };
    struct Step {
        int repeat;
        std::uint32_t counts;
        Action action;
        bool alarm, warning;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } scripts[] = {
        {"no counts never alarm", {{8, 0, None, false, false}}},
        // 9 counts in the only 3 s taken so far are 4.5 times the level;
        // against the nominal 15 s they would look like nothing.
        {"partly filled window at start", {{1, 9, None, true, true}, {3, 9, None, true, false}}},
        // 4 counts a sample (twice the level) never prove it in one window,
        // but the CUSUM gains 4 - 2/ln 2 a sample and reaches 12 on the 11th.
        // The alarm clears once the window holds no more than 3 counts (upper
        // bound 8.8 < 10) and a new rise needs the full run again.
        {"cusum",
         {{10, 4, None, false, false},
          {1, 4, None, true, true},
          {5, 4, None, true, false},
          {4, 0, None, true, false},
          {1, 0, None, false, false},
          {10, 4, None, false, false},
          {1, 4, None, true, true}}},
        // A raised level clears only after a full window since the alarm was
        // set; a lowered one keeps it without a second warning.
        {"level changed while alarming",
         {{1, 30, None, true, true},
          {1, 30, Level20, true, false},
          {1, 0, Level1000, true, false},
          {2, 0, None, true, false},
          {1, 0, None, false, false},
          {1, 30, Level40, true, true}}},
        // After a counter reset the window starts again: two empty samples
        // (upper bound 3.7 counts below the level's 4) must not clear it.
        {"counter reset while alarming",
         {{1, 30, None, true, true},
          {6, 30, None, true, false},
          {1, 0, Reset, true, false},
          {3, 0, None, true, false},
          {1, 0, None, false, false}}},
        {"disabling re-arms the warning",
         {{1, 30, None, true, true}, {1, 30, Disable, false, false}, {1, 30, None, true, true}}},
    };
    for (const auto& script : scripts) {
        PulseRig rig(4, kWindow, 0);
        ASSERT_TRUE(rig.Opened());
        SignificanceAlarm alarm;
        const RateConversion conversion = RateConversion::Of(rig.counter);
        double level = kLevel;
        int tick = 0;
        for (const Step& step : script.steps) {
            for (int i = 0; i < step.repeat; ++i, ++tick) {
                bool enabled = true;
                if (i == 0 && step.action == Reset) {
                    ASSERT_TRUE(rig.counter.ResetCounter());
                }
                if (i == 0 && step.action >= Level20)
                    level = step.action == Level20 ? 20 : step.action == Level40 ? 40 : 1000;
                if (step.action == Disable)
                    enabled = false;
                const auto out = alarm.Evaluate(enabled, rig.SampleExactly(step.counts), level,
                                                conversion, true);
                EXPECT_EQ(out.alarm, step.alarm) << script.name << ", tick " << tick;
                EXPECT_EQ(out.showWarning, step.warning) << script.name << ", tick " << tick;
                EXPECT_EQ(out.beep, out.alarm);
            }
        }
    }
}

// 200 hours of background, counts drawn per sample. The level rule of the
// alarm warns every few minutes; the significance rule never. With samples
// of exactly 3 s and no dead-time compensation the level rule sees 11 counts
// or more (9.2 an hour); the timer's jitter and the compensation make a
// window of 10 counts read just above 40 about half the time (14.7 an hour).
TEST(SignificanceAlarm, BackgroundGivesNoFalseWarningsOver200Hours) {
    const struct {
        bool jitter;
        std::int8_t unit;
        double low, high; // level-rule warnings per hour
    } cases[] = {{false, 0, 8.0, 10.4}, {true, 1, 13.3, 16.1}};
    const int samples = 200 * 1200;
    for (const auto& c : cases) {
        const RateConversion conversion{90e-6, 600, c.unit};
        Draws draws(20 + c.unit);
        DirectWindow window(kWindow);
        SignificanceAlarm significance;
        AlarmRule levelRule;
        int significant = 0, level = 0;
        for (int i = 0; i < samples; ++i) {
            const std::uint32_t ms = c.jitter ? draws.IntervalMs() : 3000;
            const CountWindow w = window.Add(draws.Poisson(kBackground * ms / 60000), ms);
            significant += significance.Evaluate(true, w, kLevel, conversion, false).showWarning;
            const double reading =
                conversion.FromRawCpm(static_cast<double>(w.counts) * 60000 / w.liveMs).value;
            level += levelRule.Evaluate(true, reading, kLevel, false).showWarning;
        }
        EXPECT_EQ(significant, 0);
        EXPECT_GT(level / 200.0, c.low);
        EXPECT_LT(level / 200.0, c.high);
    }
    // The window test's own false-warning rate is at most the rate of windows
    // it fires on, worked out exactly: about 2e-5 an hour.
    const double levelCounts = RateConversion{90e-6, 600, 1}.RawCpmAt(kLevel) / 4;
    double p = std::exp(-5.0), firing = 0;
    for (int n = 1; n < 60; ++n) {
        p *= 5.0 / n;
        if (RegularizedGammaP(n, levelCounts) < SignificanceAlarm::kWindowTestP)
            firing += p;
    }
    EXPECT_GT(firing * 1200, 1e-5);
    EXPECT_LT(firing * 1200, 3e-5);
}

// A step from background to twice the level, at a sample boundary, is
// detected within the 20 samples of the following minute in 95.6 % of runs
// (at least 1870 of 2000 with probability 1 - 4e-6).
TEST(SignificanceAlarm, StepToTwiceTheLevelDetectedWithinAMinute) {
    PulseRig rig(5, kWindow);
    ASSERT_TRUE(rig.Opened());
    const RateConversion conversion = RateConversion::Of(rig.counter);
    int detected = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        for (int i = 0; i < kWindow; ++i) // let the previous trial leave the window
            rig.Sample(kBackground);
        SignificanceAlarm alarm;
        for (int i = 0; i < 20; ++i)
            ASSERT_FALSE(
                alarm.Evaluate(true, rig.Sample(kBackground), kLevel, conversion, false).alarm);
        for (int i = 0; i < 20 && !alarm.Alarm(); ++i)
            detected +=
                alarm.Evaluate(true, rig.Sample(2 * kLevel), kLevel, conversion, false).showWarning;
    }
    EXPECT_GE(detected, 1870);
}

// Eight minutes of background, eight at twice the level, 100 times: one
// warning per excursion, where the level rule warns about 372 times.
TEST(SignificanceAlarm, OnOffCyclesWarnOncePerCycle) {
    PulseRig rig(6, kWindow);
    ASSERT_TRUE(rig.Opened());
    const RateConversion conversion = RateConversion::Of(rig.counter);
    SignificanceAlarm significance;
    AlarmRule levelRule;
    int significant = 0, level = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        for (double cpm : {kBackground, 2 * kLevel}) {
            for (int i = 0; i < 160; ++i) {
                const CountWindow w = rig.Sample(cpm);
                significant +=
                    significance.Evaluate(true, w, kLevel, conversion, false).showWarning;
                level += levelRule.Evaluate(true, rig.counter.Reading(), kLevel, false).showWarning;
            }
        }
    }
    EXPECT_EQ(significant, 100);
    EXPECT_GT(level, 290);
    EXPECT_LT(level, 460);
}

TEST(SignificanceAlarm, CurrieDetectionLimit) {
    // 5 background counts in 15 s: L_D = 2.71 + 4.65 sqrt(5) = 13.11 counts.
    EXPECT_NEAR(DetectableLevelCpm(kBackground, 15), 20 + 13.108 * 4, 0.01);
    EXPECT_NEAR(DetectableLevelCpm(0, 60), 2.71, 1e-12);
    const RateConversion cpm{90e-6, 600, 1};
    EXPECT_TRUE(LevelBelowDetectionLimit(kLevel, kBackground, 15, cpm));
    EXPECT_FALSE(LevelBelowDetectionLimit(kLevel, kBackground, 120, cpm));
    EXPECT_FALSE(LevelBelowDetectionLimit(80, kBackground, 15, cpm));
}

} // namespace
} // namespace korvinet::measure
