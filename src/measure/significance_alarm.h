#pragma once

#include "measure/alarm.h"
#include "measure/confidence_band.h"

namespace korvinet::measure {

// An alarm that waits until the counts show the level is exceeded, instead
// of reacting to every reading above it. A reading is a Poisson count: at
// background a short window crosses a nearby level many times an hour by
// chance alone. This rule compares the raw counts with the counts the tube
// would show at the level, m = L / (1 + L tau), and
// - sets the alarm when the window alone makes a rate at or below the level
//   implausible, P(N, m T) < kWindowTestP (the 99.9 % lower bound is above
//   the level), or when a Poisson CUSUM tuned to a rise to twice the level,
//   S <- max(0, S + x - m dt / ln 2) per sample, reaches kCusumThreshold
//   counts: the CUSUM catches a moderate, lasting rise that one window is
//   too short to prove;
// - clears it only after a full window of samples taken since it was set,
//   and only when the 95 % upper bound of the window is below the level;
// - restarts S when it sets or clears.
// The warning comes on the transition into alarm only, so each excursion
// gives one warning; red reading, red points and the buzzer follow the state
// as with AlarmRule.
class SignificanceAlarm {
public:
    static constexpr double kWindowTestP = 0.001;
    static constexpr double kCusumThreshold = 12.0; // counts

    // One tick, after the counter's ReadCounts. level is in the display unit
    // of conversion (the alarm level as the user entered it). With the alarm
    // disabled the state returns to normal, so enabling it starts afresh.
    AlarmRule::Outcome Evaluate(bool enabled, const CountWindow& window, double level,
                                const RateConversion& conversion, bool buzzer);

    bool Alarm() const { return alarm_; }

private:
    bool alarm_ = false;
    double cusum_ = 0.0;
    int samplesSinceSet_ = 0;
};

// Currie's detection limit L_D = 2.71 + 4.65 sqrt(B) counts for a window of
// the given seconds over a background of B counts, as a rate: the lowest
// level (raw CPM) that one window tells apart from the background reliably,
// background plus L_D.
double DetectableLevelCpm(double backgroundCpm, double windowSeconds);

// True when an alarm level (display unit of conversion) lies below that
// detectable level; Options warns then that the alarm cannot be relied on.
bool LevelBelowDetectionLimit(double level, double backgroundCpm, double windowSeconds,
                              const RateConversion& conversion);

} // namespace korvinet::measure
