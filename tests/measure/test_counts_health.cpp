#include "measure/counts_health.h"
#include "pulse_simulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace korvinet {
namespace {

using testing::DriverSamples;
using Health = CountsHealth;

// Counts that repeat a cycle, one 3-s sample each.
std::function<std::uint32_t(int)> Cycle(std::vector<std::uint32_t> counts) {
    return [counts](int i) { return counts[i % counts.size()]; };
}

// Made-up count sequences with a known statistic: q = d^2 / (2 mean) for
// neighbours d apart, here the same for every pair.
TEST(CountsHealth, StatisticAndVerdictOfCountPatterns) {
    struct Case {
        const char* name;
        std::function<std::uint32_t(int)> counts;
        int samples;
        Health state;
        std::optional<double> statistic;
        int firstVerdict = 100; // samples until the window is judged
        double deadTime = CountsHealthCheck::kDefaultDeadTimeSeconds;
    };
    const auto spikesAt = [](std::vector<int> at) {
        return [at](int i) -> std::uint32_t {
            return std::vector<std::uint32_t>{5, 8, 5, 2}[i % 4] +
                   (std::count(at.begin(), at.end(), i) ? 50 : 0);
        };
    };
    const std::vector<Case> cases = {
        {"spread as Poisson", Cycle({5, 8, 5, 2}), 120, Health::Ok, 0.9},
        {"no spread", Cycle({5}), 120, Health::TooRegular, 0.0},
        {"far too much spread", Cycle({1, 9}), 120, Health::Bursts, 6.4},
        // 50 -> 500 counts: the step's difference is left out (it alone
        // would add 3.4).
        {"a step", [](int i) -> std::uint32_t { return (i < 50 ? 50 : 500) + (i % 2 ? 11 : -11); },
         100, Health::Ok, 484.0 / 550},
        {"one spike", spikesAt({50}), 100, Health::Ok, std::nullopt},
        {"two spikes", spikesAt({30, 70}), 100, Health::Bursts, std::nullopt},
        // One count a sample: bins of 5 samples, 50 of them.
        {"20 CPM", Cycle({1, 0, 2, 1, 1}), 300, Health::TooRegular, 0.0, 250},
        {"too few counts", Cycle({1, 0, 0}), 600, Health::Undecided, std::nullopt, -1},
        {"dead time losses", Cycle({2000, 2090, 2000, 1910}), 120, Health::Undecided, std::nullopt,
         -1},
        {"no dead time", Cycle({2000, 2090, 2000, 1910}), 120, Health::Ok, 2.025, 100, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CountsHealthCheck check;
        check.SetDeadTime(c.deadTime);
        int first = -1, started = 0;
        CountsHealthCheck::Verdict v;
        for (int i = 0; i < c.samples; ++i) {
            v = check.Update(c.counts(i), 3000);
            if (v.statistic && first < 0)
                first = i + 1;
            started += v.episodeStarted;
        }
        EXPECT_EQ(first, c.firstVerdict);
        EXPECT_EQ(v.state, c.state);
        EXPECT_EQ(started, c.state == Health::Bursts || c.state == Health::TooRegular);
        if (c.statistic) {
            ASSERT_TRUE(v.statistic);
            EXPECT_NEAR(*v.statistic, *c.statistic, 1e-9);
        }
    }
    EXPECT_EQ(CountsHealthText(Health::Undecided), QString());
    EXPECT_EQ(CountsHealthText(Health::Ok), "ok");
    EXPECT_EQ(CountsHealthText(Health::Bursts), "bursts");
    EXPECT_EQ(CountsHealthText(Health::TooRegular), "too regular");
}

// Healthy, bursting, healthy, stuck, restarted: one start and one end per
// episode, the end only after a whole window back inside the clearing band.
TEST(CountsHealth, OneEventEachWayPerEpisode) {
    struct Phase {
        std::function<std::uint32_t(int)> counts;
        int samples;
        Health state; // at the end of the phase
        int started, ended;
    };
    const std::vector<Phase> phases = {
        {Cycle({5, 8, 5, 2}), 150, Health::Ok, 0, 0},
        {Cycle({1, 9}), 60, Health::Bursts, 1, 0},
        {Cycle({5, 8, 5, 2}), 100, Health::Bursts, 0, 0},
        {Cycle({5, 8, 5, 2}), 100, Health::Ok, 0, 1},
        {Cycle({5}), 200, Health::TooRegular, 1, 0},
    };
    CountsHealthCheck check;
    for (std::size_t p = 0; p < phases.size(); ++p) {
        SCOPED_TRACE(p);
        int started = 0, ended = 0;
        Health state = Health::Undecided;
        for (int i = 0; i < phases[p].samples; ++i) {
            const auto v = check.Update(phases[p].counts(i), 3000);
            started += v.episodeStarted;
            ended += v.episodeEnded;
            state = v.state;
        }
        EXPECT_EQ(state, phases[p].state);
        EXPECT_EQ(started, phases[p].started);
        EXPECT_EQ(ended, phases[p].ended);
    }
    // Too few counts to judge keep the episode; a restart forgets it.
    CountsHealthCheck::Verdict v;
    for (int i = 0; i < 100; ++i)
        v = check.Update(0, 3000);
    EXPECT_FALSE(v.statistic);
    EXPECT_EQ(v.state, Health::TooRegular);
    EXPECT_EQ(check.Update(5, 0).state, Health::TooRegular); // an empty sample: no change
    check.Restart();
    EXPECT_EQ(check.State(), Health::Undecided);
    EXPECT_FALSE(check.Update(5, 3000).statistic);
}

// Simulation: the simulated counter's faults against the goals. Longer runs
// for sharper figures: KORVINET_HEALTH_DAYS (default 30).
double SimulatedDays() {
    const char* days = std::getenv("KORVINET_HEALTH_DAYS");
    return days && std::atof(days) > 0 ? std::atof(days) : 30;
}

// Steady, drifting (to double over 6 h and back) and stepping (to 5 times
// and back every 30 min) Poisson counts: at most 1 false warning in 30 days.
void ExpectFewFalseWarnings(double cpm) {
    const double days = SimulatedDays();
    const std::vector<std::pair<const char*, SimulatedFault>> kinds = {
        {"steady", SimulatedFault::None},
        {"drift", SimulatedFault::Drift},
        {"step", SimulatedFault::Step}};
    auto seed = static_cast<std::uint64_t>(cpm);
    for (const auto& [name, fault] : kinds) {
        DriverSamples counter(++seed, cpm, fault, 600000);
        CountsHealthCheck check;
        int warnings = 0;
        double lowest = 1e9, highest = 0;
        while (counter.NowMs() < days * 86400000) {
            const auto sample = counter.Next();
            const auto v = check.Update(sample.counts, sample.ms);
            warnings += v.episodeStarted;
            if (v.statistic) {
                lowest = std::min(lowest, *v.statistic);
                highest = std::max(highest, *v.statistic);
            }
        }
        const double per30 = warnings * 30 / days;
        std::printf("%6g CPM %-6s: %d false warnings in %g days (%.2f per 30 days), "
                    "statistic %.3f to %.3f\n",
                    cpm, name, warnings, days, per30, lowest, highest);
        EXPECT_LE(per30, 1.0) << cpm << " CPM " << name;
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
    constexpr double kOnsetMs = 15 * 60000;
    std::vector<double> minutes;
    for (int run = 0; run < kRuns; ++run) {
        DriverSamples counter(5000 + run, cpm, fault, static_cast<std::uint64_t>(kOnsetMs));
        CountsHealthCheck check;
        double found = 1e9;
        while (counter.NowMs() < kOnsetMs + 3 * withinMinutes * 60000) {
            const auto sample = counter.Next();
            const auto v = check.Update(sample.counts, sample.ms);
            if (v.episodeStarted) {
                EXPECT_GE(counter.NowMs(), kOnsetMs) << "run " << run;
                EXPECT_EQ(v.state, expected);
                found = (counter.NowMs() - kOnsetMs) / 60000;
                break;
            }
        }
        minutes.push_back(found);
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
} // namespace korvinet
