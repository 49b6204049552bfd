#include "measure/counts_stopped.h"

#include "measure/poisson.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvinet::measure {

CountsStoppedDetector::Outcome CountsStoppedDetector::AddSample(std::uint32_t counts,
                                                                std::uint32_t elapsedMs,
                                                                double cpmPerMicrosievertHour) {
    if (counts > 0) {
        // The silence so far is part of the history before this pulse; a
        // run of empty samples is kept as one block.
        if (silentMs_ > 0) {
            history_.push_back({0, silentMs_});
            historyMs_ += silentMs_;
        }
        history_.push_back({counts, elapsedMs});
        historyCounts_ += counts;
        historyMs_ += elapsedMs;
        silentMs_ = 0;
        stopSeconds_ = 0.0;
        stopped_ = false;
        Trim();
        return {};
    }
    silentMs_ += elapsedMs;
    Outcome out;
    out.silentSeconds = static_cast<double>(silentMs_) / 1000;
    // No threshold is shorter than the minimum: skip the work until then.
    if (out.silentSeconds >= kMinimumSeconds &&
        out.silentSeconds >= StopSeconds(cpmPerMicrosievertHour)) {
        out.stopped = true;
        out.showWarning = !stopped_;
        stopped_ = true;
    }
    return out;
}

void CountsStoppedDetector::Trim() {
    while (!history_.empty() && historyMs_ > kHistoryMs) {
        Block& front = history_.front();
        const std::uint64_t excess = historyMs_ - kHistoryMs;
        if (front.counts == 0 && front.ms > excess) {
            front.ms -= excess; // part of an empty stretch: still exact
            historyMs_ -= excess;
            break;
        }
        historyMs_ -= front.ms;
        historyCounts_ -= front.counts;
        history_.pop_front();
    }
}

double CountsStoppedDetector::StopSeconds(double cpmPerMicrosievertHour) const {
    if (historyCounts_ == 0) {
        return cpmPerMicrosievertHour > 0
                   ? kNoHistorySecondsTimesSensitivity / cpmPerMicrosievertHour
                   : std::numeric_limits<double>::infinity();
    }
    if (stopSeconds_ == 0.0) {
        const double low = InverseRegularizedGammaP(static_cast<double>(historyCounts_), 0.025);
        const double perSecond = low * 1000 / static_cast<double>(historyMs_);
        const double seconds = std::log(3600 * perSecond / kFalseWarningsPerHour) / perSecond;
        stopSeconds_ = std::max(kMinimumSeconds, seconds);
    }
    return stopSeconds_;
}

void CountsStoppedDetector::Restart() {
    *this = CountsStoppedDetector();
}

QString NoCountsText(double silentSeconds) {
    return QStringLiteral("No counts for %1 seconds")
        .arg(static_cast<long long>(std::floor(silentSeconds)));
}

QString CountsStoppedText(double silentSeconds) {
    return NoCountsText(silentSeconds) + QStringLiteral(": check the counter's tube and cable.");
}

} // namespace korvinet::measure
