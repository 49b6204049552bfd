#include "measure/significance_alarm.h"

#include "measure/poisson.h"

#include <algorithm>
#include <cmath>

namespace korvinet::measure {

namespace {

constexpr double kLn2 = 0.693147180559945309417232121458;
// The upper end of the 95 % band of a count: P^-1(N + 1, 0.975).
constexpr double kUpperQuantile = 0.975;

} // namespace

AlarmRule::Outcome SignificanceAlarm::Evaluate(bool enabled, const CountWindow& window,
                                               double level, const RateConversion& conversion,
                                               bool buzzer) {
    AlarmRule::Outcome out;
    if (!enabled) {
        alarm_ = false;
        cusum_ = 0.0;
        samplesSinceSet_ = 0;
        return out;
    }
    const double levelPerMs = conversion.RawCpmAt(level) / 60000;
    const double expected = levelPerMs * static_cast<double>(window.liveMs); // counts at the level
    const double n = static_cast<double>(window.counts);

    cusum_ = std::max(0.0, cusum_ + window.newestCounts - levelPerMs * window.newestMs / kLn2);
    if (!alarm_) {
        const bool windowFires =
            window.counts > 0 && window.liveMs > 0 && RegularizedGammaP(n, expected) < kWindowTestP;
        if (windowFires || cusum_ >= kCusumThreshold) {
            alarm_ = true;
            cusum_ = 0.0;
            samplesSinceSet_ = 0;
            out.showWarning = true;
        }
    } else if (++samplesSinceSet_ >= window.length && window.Full() && window.liveMs > 0) {
        // The window now holds only samples taken since the alarm was set.
        if (InverseRegularizedGammaP(n + 1, kUpperQuantile) < expected) {
            alarm_ = false;
            cusum_ = 0.0;
        }
    }
    if (alarm_) {
        out.alarm = true;
        out.beep = buzzer;
    }
    return out;
}

double DetectableLevelCpm(double backgroundCpm, double windowSeconds) {
    const double minutes = windowSeconds / 60;
    const double background = std::max(backgroundCpm, 0.0) * minutes;
    return backgroundCpm + (2.71 + 4.65 * std::sqrt(background)) / minutes;
}

bool LevelBelowDetectionLimit(double level, double backgroundCpm, double windowSeconds,
                              const RateConversion& conversion) {
    return conversion.RawCpmAt(level) < DetectableLevelCpm(backgroundCpm, windowSeconds);
}

} // namespace korvinet::measure
