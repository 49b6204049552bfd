#pragma once

#include <QString>
#include <cstdint>
#include <deque>

namespace korvinet::measure {

// Notices a counter that has stopped counting (a dead tube, a loose cable),
// which otherwise just reads 0. A silence counts as a stop once it is longer
// than a live tube would plausibly stay quiet:
//   t_stop = max(30 s, ln(3600 lambda / F) / lambda),
// lambda being the 95 % lower bound of the rate over the 600 s before the
// last pulse and F = 1e-4 false warnings per hour (a gap of t at a rate of
// lambda per second happens 3600 lambda e^(-lambda t) times an hour). Before
// the first pulse there is no rate to go by, and the counter's sensitivity
// stands in: 12000 / S seconds, S in CPM per µSv/hr.
//
// A sample only says how many pulses came in its 3 s, not when. The last
// pulse is taken to be at the end of the last sample with counts: the
// silence is then never overestimated, so false warnings stay below F
// (the true silence is longer by up to one sample, and the warning comes at
// the end of the first sample at or beyond t_stop, up to one sample later).
class CountsStoppedDetector {
public:
    static constexpr double kFalseWarningsPerHour = 1e-4;
    static constexpr double kMinimumSeconds = 30.0;
    static constexpr std::uint64_t kHistoryMs = 600000;
    static constexpr double kNoHistorySecondsTimesSensitivity = 12000.0;

    struct Outcome {
        bool stopped = false;       // silent for t_stop or longer
        bool showWarning = false;   // the one warning of this silence
        double silentSeconds = 0.0; // since the end of the last sample with counts
    };

    // One sample; cpmPerMicrosievertHour is the counter's sensitivity in CPM
    // per µSv/hr (TCounter::Sensitivity() / 10).
    Outcome AddSample(std::uint32_t counts, std::uint32_t elapsedMs, double cpmPerMicrosievertHour);
    // The silence, in seconds, that counts as stopped after what has been seen.
    double StopSeconds(double cpmPerMicrosievertHour) const;
    // Forgets everything, as for a newly connected counter.
    void Restart();

    bool Stopped() const { return stopped_; }

private:
    struct Block {
        std::uint64_t counts;
        std::uint64_t ms;
    };

    void Trim();

    std::deque<Block> history_; // up to the end of the last sample with counts, <= 600 s
    std::uint64_t historyCounts_ = 0;
    std::uint64_t historyMs_ = 0;
    std::uint64_t silentMs_ = 0;
    bool stopped_ = false;
    mutable double stopSeconds_ = 0.0; // 0: not worked out since the last pulse
};

// "No counts for N seconds", N the whole seconds of the silence.
QString NoCountsText(double silentSeconds);
// The warning: "No counts for N seconds: check the counter's tube and cable."
QString CountsStoppedText(double silentSeconds);

} // namespace korvinet::measure
