#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace korvinet::measure {

// What the counts of the last few minutes look like.
enum class CountsHealth {
    Undecided,  // too few counts or samples to tell
    Ok,         // spread as radioactive decay gives it
    Bursts,     // spread far above: spikes, interference, a ringing tube
    TooRegular, // spread far below: an oscillation, a stuck pulse source
};

// Tells a faulty counter from radiation by the spread of its counts. Counts
// of a steady source are Poisson: their variance equals their mean. The
// check compares the mean squared successive difference of the counts with
// the mean, which a slow drift of the rate leaves alone (neighbours share the
// rate), where the plain variance would take the drift for spread.
//
// Bins. At background a 3-s sample holds about one count (20 CPM), and the
// statistic of single-count samples is too lumpy for the rare-event
// thresholds needed here. The samples are therefore summed into bins of k
// consecutive samples, k the fewest that hold kCountsPerBin expected counts
// (1 at 100 CPM and above, 5 at 20 CPM), and the window holds
// max(kWindowSamples, kMinBins k) samples: 5 minutes at 60 CPM and above,
// 10 at 30 CPM, 12.5 at 20 CPM. So the rule is "enough counts per bin and
// enough bins"; below kCountsPerBin / kMaxSamplesPerBin counts per sample
// (10 CPM) there is no verdict. Bins of Poisson(5) and more are near enough
// to normal that one pair of thresholds holds at every rate.
//
// The statistic. For neighbouring bins of counts c_i over t_i ms, r_i =
// c_i / t_i, and lambda the window's counts per ms:
//   q_i = (r_{i+1} - r_i)^2 / (lambda (1 / t_i + 1 / t_{i+1})),
// each 1 on average for Poisson counts whatever the sample lengths. The
// statistic is the mean of the q_i without the kTrimmed largest: a genuine
// step of the rate shows as one large difference, or two when it falls
// inside a bin, and that one step would otherwise add about (rate in counts
// per sample) / 36 to the statistic, 1.4 at 1000 CPM for a step to 5 times,
// more at higher rates. A burst shows as a rise and a fall, so with a second
// burst in the window the burst is seen. Healthy counts give about 0.8 (0.33
// to 1.6 in 999 windows of 1000); bursts give many times more, a fixed-rate
// source nearly 0.
//
// Thresholds and hysteresis. A fault episode starts when the statistic
// passes kBurstsAbove or kTooRegularBelow, and ends only when it has stayed
// inside kBurstsClearBelow / kTooRegularClearAbove for a whole window's
// worth of samples, so one episode gives one warning. The thresholds come
// from simulated Poisson counts at 20, 60 and 1000 CPM, steady, drifting and
// stepping (tests/measure/test_counts_health.cpp): over 1000 days of each the
// statistic stayed between 0.16 and 2.9, and below 0.2 about once in 10
// days, each 0.05 lower ten times rarer; a fixed-rate source gives under
// 0.02, a window holding two 50-count spikes at 30 CPM about 7 (median).
//
// Dead time makes a tube's counts more regular than Poisson, by (1 - n
// tau)^2 at a counted rate n; above kMaxDeadTimeLoss there is no verdict.
class CountsHealthCheck {
public:
    static constexpr double kCountsPerBin = 5.0;
    static constexpr int kWindowSamples = 100;
    static constexpr int kMinBins = 50;
    static constexpr int kMaxSamplesPerBin = 10;
    static constexpr int kTrimmed = 2;
    static constexpr double kBurstsAbove = 3.5;
    static constexpr double kBurstsClearBelow = 1.5;
    static constexpr double kTooRegularBelow = 0.1;
    static constexpr double kTooRegularClearAbove = 0.5;
    static constexpr double kMaxDeadTimeLoss = 0.05;
    static constexpr double kDefaultDeadTimeSeconds = 100e-6;

    struct Verdict {
        CountsHealth state = CountsHealth::Undecided;
        std::optional<double> statistic; // of this window; none when it cannot be judged
        bool episodeStarted = false;     // warn once: a fault episode began with this sample
        bool episodeEnded = false;       // the episode that was shown is over
    };

    // One sample: its counts and length. A sample of 0 ms changes nothing.
    Verdict Update(std::uint32_t counts, std::uint32_t ms);
    // Forgets everything, as for a newly connected or restarted counter; an
    // episode in progress ends without an event (its warning goes with the
    // old connection).
    void Restart();
    // The counter's dead time (TCounter::DeadTime()); a typical tube's until set.
    void SetDeadTime(double seconds) { deadTime_ = seconds; }

    CountsHealth State() const { return state_; }

private:
    static constexpr int kCapacity = 512; // > kMinBins * kMaxSamplesPerBin
    struct Total {
        std::uint64_t counts = 0;
        std::uint64_t ms = 0;
    };

    // The statistic of the window ending with the newest sample, and how many
    // samples that window holds; none when it cannot be judged.
    std::optional<double> Statistic(int* windowSamples) const;
    const Total& At(std::uint64_t sample) const { return totals_[sample % kCapacity]; }

    std::array<Total, kCapacity> totals_{}; // running totals after each sample; [0]: none yet
    std::uint64_t samples_ = 0;
    double deadTime_ = kDefaultDeadTimeSeconds;
    CountsHealth state_ = CountsHealth::Undecided;
    int clearSamples_ = 0; // samples in a row inside the clearing band
};

// The state as the reading payload and the status text name it: "ok",
// "bursts", "too regular"; empty while undecided.
QString CountsHealthText(CountsHealth health);
// The counts do not behave as radiation: bursts, or too regular.
bool IsFault(CountsHealth health);
// What the one warning of a fault episode says; empty for ok and undecided.
QString CountsHealthWarningText(CountsHealth health);

} // namespace korvinet::measure
