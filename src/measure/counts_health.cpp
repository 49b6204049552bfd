#include "measure/counts_health.h"

#include <algorithm>
#include <cmath>

namespace korvinet::measure {

bool IsFault(CountsHealth health) {
    return health == CountsHealth::Bursts || health == CountsHealth::TooRegular;
}

std::optional<double> CountsHealthCheck::Statistic(int* windowSamples) const {
    // The bin length from the rate of the newest samples.
    const auto recent =
        static_cast<std::uint64_t>(std::min<std::uint64_t>(samples_, kWindowSamples));
    if (recent == 0)
        return std::nullopt;
    const Total& newest = At(samples_);
    const double perSample = static_cast<double>(newest.counts - At(samples_ - recent).counts) /
                             static_cast<double>(recent);
    if (!(perSample * kMaxSamplesPerBin >= kCountsPerBin))
        return std::nullopt;
    const int k = static_cast<int>(std::ceil(kCountsPerBin / perSample));
    const int bins = std::max(kMinBins, kWindowSamples / k);
    const int span = bins * k;
    if (static_cast<std::uint64_t>(span) > samples_)
        return std::nullopt;

    const Total& oldest = At(samples_ - span);
    const double counts = static_cast<double>(newest.counts - oldest.counts);
    const double ms = static_cast<double>(newest.ms - oldest.ms);
    const double perMs = counts / ms;
    if (perMs * 1000 * deadTime_ > kMaxDeadTimeLoss)
        return std::nullopt;

    // Bins from the newest backwards; the two largest terms are left out.
    // (r_a - r_b)^2 / (1 / t_a + 1 / t_b) written with one division:
    // (c_a t_b - c_b t_a)^2 / (t_a t_b (t_a + t_b)).
    double sum = 0, top1 = 0, top2 = 0;
    double previousCounts = 0, previousMs = 0;
    std::uint64_t end = samples_;
    for (int b = 0; b < bins; ++b, end -= k) {
        const Total& to = At(end);
        const Total& from = At(end - k);
        const auto binCounts = static_cast<double>(to.counts - from.counts);
        const auto binMs = static_cast<double>(to.ms - from.ms);
        if (b > 0) {
            const double x = binCounts * previousMs - previousCounts * binMs;
            const double q = x * x / (binMs * previousMs * (binMs + previousMs));
            sum += q;
            if (q > top2) {
                top2 = std::min(q, top1);
                top1 = std::max(q, top1);
            }
        }
        previousCounts = binCounts;
        previousMs = binMs;
    }
    static_assert(kTrimmed == 2, "the loop above keeps the two largest terms");
    *windowSamples = span;
    return std::max(0.0, sum - top1 - top2) / (perMs * (bins - 1 - kTrimmed));
}

CountsHealthCheck::Verdict CountsHealthCheck::Update(std::uint32_t counts, std::uint32_t ms) {
    Verdict out;
    if (ms == 0) {
        out.state = state_;
        return out;
    }
    const Total& last = At(samples_);
    totals_[++samples_ % kCapacity] = {last.counts + counts, last.ms + ms};

    int window = 0;
    out.statistic = Statistic(&window);
    if (!out.statistic) {
        // Nothing to judge by: an episode stays until counts show it is over.
        clearSamples_ = 0;
        if (!IsFault(state_))
            state_ = CountsHealth::Undecided;
        out.state = state_;
        return out;
    }
    const double s = *out.statistic;
    const CountsHealth now = s > kBurstsAbove       ? CountsHealth::Bursts
                             : s < kTooRegularBelow ? CountsHealth::TooRegular
                                                    : CountsHealth::Ok;
    if (IsFault(now) && now != state_) {
        out.episodeEnded = IsFault(state_);
        out.episodeStarted = true;
        state_ = now;
        clearSamples_ = 0;
    } else if (IsFault(state_)) {
        const bool inside =
            state_ == CountsHealth::Bursts ? s < kBurstsClearBelow : s > kTooRegularClearAbove;
        clearSamples_ = inside ? clearSamples_ + 1 : 0;
        if (clearSamples_ >= window) {
            state_ = CountsHealth::Ok;
            out.episodeEnded = true;
            clearSamples_ = 0;
        }
    } else {
        state_ = CountsHealth::Ok;
    }
    out.state = state_;
    return out;
}

void CountsHealthCheck::Restart() {
    const double deadTime = deadTime_;
    *this = CountsHealthCheck();
    deadTime_ = deadTime;
}

QString CountsHealthText(CountsHealth health) {
    switch (health) {
    case CountsHealth::Ok:
        return QStringLiteral("ok");
    case CountsHealth::Bursts:
        return QStringLiteral("bursts");
    case CountsHealth::TooRegular:
        return QStringLiteral("too regular");
    case CountsHealth::Undecided:
        break;
    }
    return {};
}

QString CountsHealthWarningText(CountsHealth health) {
    switch (health) {
    case CountsHealth::Bursts:
        return QStringLiteral("The counts come in bursts, which radiation does not do: check the "
                              "counter's cable, its shielding and the tube.");
    case CountsHealth::TooRegular:
        return QStringLiteral("The counts come at too regular a pace for radiation: check the "
                              "counter for an oscillating input or a stuck pulse source.");
    case CountsHealth::Ok:
    case CountsHealth::Undecided:
        break;
    }
    return {};
}

} // namespace korvinet::measure
