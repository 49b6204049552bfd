#include "measure/counts_health.h"
#include "pulse_simulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace korvinet::measure {

using device::SimulatedFault;

namespace {

using Health = CountsHealth;
using Counts = std::function<std::uint32_t(int)>; // of the i-th 3-s sample

Counts Cycle(std::vector<std::uint32_t> counts) {
    return [counts](int i) { return counts[i % counts.size()]; };
}
Counts SpikesAt(std::vector<int> at) {
    return [at](int i) {
        return Cycle({5, 8, 5, 2})(i) + 50 * std::count(at.begin(), at.end(), i);
    };
}

// Made-up counts with a known statistic: q = d^2 / (2 mean) for neighbours
// d apart. Each case feeds its stretches of samples to one check.
TEST(CountsHealth, VerdictsAndEpisodesOfCountPatterns) {
    const Counts ok = Cycle({5, 8, 5, 2}), burst = Cycle({1, 9}), flat = Cycle({5});
    const Counts big = Cycle({2000, 2090, 2000, 1910}); // dead time losses of 7 %
    // 50 -> 500 counts: the step's difference is left out (alone it would add 3.4).
    const Counts step = [](int i) { return (i < 50 ? 50u : 500u) + (i % 2 ? 11 : -11); };
    struct Case {
        const char* name;
        std::vector<std::pair<Counts, int>> stretches;
        Health state;
        std::optional<double> statistic;
        int started = 0, ended = 0, firstVerdict = 100;
        double deadTime = CountsHealthCheck::kDefaultDeadTimeSeconds;
    };
    const std::vector<Case> cases = {
        {"spread as Poisson", {{ok, 120}}, Health::Ok, 0.9},
        {"no spread", {{flat, 120}}, Health::TooRegular, 0.0, 1},
        {"far too much spread", {{burst, 120}}, Health::Bursts, 6.4, 1},
        {"a step", {{step, 100}}, Health::Ok, 484.0 / 550},
        {"one spike", {{SpikesAt({50}), 100}}, Health::Ok, {}},
        {"two spikes", {{SpikesAt({30, 70}), 100}}, Health::Bursts, {}, 1},
        // One count a sample: 50 bins of 5 samples.
        {"20 CPM", {{Cycle({1, 0, 2, 1, 1}), 300}}, Health::TooRegular, 0.0, 1, 0, 250},
        {"too few counts", {{Cycle({1, 0, 0}), 600}}, Health::Undecided, {}, 0, 0, -1},
        {"dead time losses", {{big, 120}}, Health::Undecided, {}, 0, 0, -1},
        {"no dead time", {{big, 120}}, Health::Ok, 2.025, 0, 0, 100, 0.0},
        // An episode ends a whole window after the statistic is back below
        // 1.5 (about 50 samples after the bursts); the next one starts anew.
        {"not over yet", {{ok, 150}, {burst, 60}, {ok, 100}}, Health::Bursts, {}, 1},
        {"over", {{ok, 150}, {burst, 60}, {ok, 200}, {flat, 200}}, Health::TooRegular, 0.0, 2, 1},
        // Too few counts to judge keep an episode.
        {"kept", {{flat, 200}, {Cycle({0}), 100}}, Health::TooRegular, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountsHealthCheck check;
        check.SetDeadTime(c.deadTime);
        int sample = 0, first = -1, started = 0, ended = 0;
        CountsHealthCheck::Verdict v;
        for (const auto& [counts, samples] : c.stretches) {
            for (int i = 0; i < samples; ++i) {
                v = check.Update(counts(i), 3000);
                ++sample;
                if (v.statistic && first < 0)
                    first = sample;
                started += v.episodeStarted;
                ended += v.episodeEnded;
            }
        }
        EXPECT_EQ(v.state, c.state);
        EXPECT_EQ(started, c.started);
        EXPECT_EQ(ended, c.ended);
        EXPECT_EQ(first, c.firstVerdict);
        if (c.statistic) {
            EXPECT_NEAR(v.statistic.value_or(-1), *c.statistic, 1e-9);
        }
        EXPECT_EQ(check.Update(5, 0).state, c.state); // an empty sample changes nothing
        check.Restart();
        EXPECT_EQ(check.State(), Health::Undecided);
    }
    EXPECT_EQ(CountsHealthText(Health::Undecided), QString());
    EXPECT_EQ(CountsHealthText(Health::Ok), "ok");
    EXPECT_EQ(CountsHealthText(Health::Bursts), "bursts");
    EXPECT_EQ(CountsHealthText(Health::TooRegular), "too regular");
    EXPECT_TRUE(CountsHealthWarningText(Health::Ok).isEmpty());
    EXPECT_TRUE(CountsHealthWarningText(Health::Bursts).contains("bursts"));
}

// The simulated counter's faults against the goals; the figures are printed.
// Steady, drifting (to double over 6 h and back) and stepping (to 5 times
// and back every 30 min, from minute 10) counts: at most 1 false warning in
// 30 days; the counts of ten minutes from `minute` show the fault's rate.
// KORVINET_HEALTH_DAYS runs longer than 30 days for sharper figures.
void ExpectFewFalseWarnings(double cpm) {
    const char* env = std::getenv("KORVINET_HEALTH_DAYS");
    const double days = env && std::atof(env) > 0 ? std::atof(env) : 30;
    struct Kind {
        const char* name;
        SimulatedFault fault;
        double minute, rate;
    };
    auto seed = static_cast<std::uint64_t>(cpm);
    for (const Kind& k :
         {Kind{"steady", SimulatedFault::None, 10, 1}, Kind{"drift", SimulatedFault::Drift, 365, 2},
          Kind{"step", SimulatedFault::Step, 10, 5}}) {
        testing::DriverSamples counter(++seed, cpm, k.fault, 600000);
        CountsHealthCheck check;
        int warnings = 0;
        double lowest = 1e9, highest = 0, atStart = 0, atMinute = 0;
        while (counter.NowMs() < days * 86400000) {
            const auto [counts, ms] = counter.Next();
            const double minute = counter.NowMs() / 60000;
            atStart += minute < 10 ? counts : 0;
            atMinute += minute >= k.minute && minute < k.minute + 10 ? counts : 0;
            const auto v = check.Update(counts, ms);
            warnings += v.episodeStarted;
            lowest = std::min(lowest, v.statistic.value_or(lowest));
            highest = std::max(highest, v.statistic.value_or(highest));
        }
        std::printf("%6g CPM %-6s: %d false warnings in %g days, statistic %.3f to %.3f\n", cpm,
                    k.name, warnings, days, lowest, highest);
        EXPECT_LE(warnings * 30 / days, 1.0) << cpm << " CPM " << k.name;
        EXPECT_NEAR(atMinute / atStart, k.rate, 0.3 * k.rate) << k.name;
    }
}

TEST(CountsHealthSimulation, FalseWarningsAt20Cpm) {
    ExpectFewFalseWarnings(20);
}
TEST(CountsHealthSimulation, FalseWarningsAt60Cpm) {
    ExpectFewFalseWarnings(60);
}
TEST(CountsHealthSimulation, FalseWarningsAt1000Cpm) {
    ExpectFewFalseWarnings(1000);
}

// Minutes from the fault's onset, 15 minutes after connecting, to its
// warning, over 200 runs; none may come before the onset.
void ExpectDetected(SimulatedFault fault, double cpm, Health expected, double withinMinutes) {
    constexpr int kRuns = 200;
    constexpr std::uint64_t kOnsetMs = 15 * 60000;
    std::vector<double> minutes;
    for (int run = 0; run < kRuns; ++run) {
        testing::DriverSamples counter(5000 + run, cpm, fault, kOnsetMs);
        CountsHealthCheck check;
        minutes.push_back(1e9);
        while (counter.NowMs() < kOnsetMs + 3 * withinMinutes * 60000) {
            const auto [counts, ms] = counter.Next();
            if (const auto v = check.Update(counts, ms); v.episodeStarted) {
                EXPECT_GE(counter.NowMs(), kOnsetMs) << "run " << run;
                EXPECT_EQ(v.state, expected);
                minutes.back() = (counter.NowMs() - kOnsetMs) / 60000;
                break;
            }
        }
    }
    std::sort(minutes.begin(), minutes.end());
    const auto within =
        std::count_if(minutes.begin(), minutes.end(), [&](double m) { return m <= withinMinutes; });
    std::printf("%s at %g CPM: %.1f %% flagged within %g minutes, median %.1f, "
                "95th percentile %.1f minutes\n",
                CountsHealthText(expected).toUtf8().constData(), cpm, 100.0 * within / kRuns,
                withinMinutes, minutes[kRuns / 2], minutes[kRuns * 95 / 100]);
    EXPECT_GE(within, kRuns * 95 / 100);
}

TEST(CountsHealthSimulation, SpikesAt30CpmFlaggedWithin15Minutes) {
    ExpectDetected(SimulatedFault::Spikes, 30, Health::Bursts, 15);
}
TEST(CountsHealthSimulation, FixedRateSourceAt60CpmFlaggedWithin10Minutes) {
    ExpectDetected(SimulatedFault::Regular, 60, Health::TooRegular, 10);
}

} // namespace
} // namespace korvinet::measure
