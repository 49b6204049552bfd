#include "measure/alarm.h"

namespace korvinet::measure {

AlarmRule::Outcome AlarmRule::Evaluate(bool enabled, double reading, double level, bool buzzer) {
    Outcome out;
    if (!(enabled && reading > level)) {
        warningShown_ = false;
        return out;
    }
    out.alarm = true;
    out.beep = buzzer;
    if (!warningShown_) {
        warningShown_ = true;
        out.showWarning = true;
    }
    return out;
}

} // namespace korvinet::measure
