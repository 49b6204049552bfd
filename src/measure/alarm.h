#pragma once

namespace korvinet::measure {

// The alarm decision of one sampling tick. A reading strictly above the level
// while the alarm is enabled is an alarm (the window shows it red): a buzz if
// the buzzer is on, and the warning message once per excursion. The first
// reading at or below the level (or any tick with the alarm disabled) re-arms
// the message.
class AlarmRule {
public:
    struct Outcome {
        bool alarm = false;
        bool beep = false;        // sound the buzzer (1000 Hz, 1000 ms)
        bool showWarning = false; // show the warning message now
    };

    static constexpr int kBeepHz = 1000;
    static constexpr int kBeepMs = 1000;

    // Marks the warning as shown before returning, so ticks that run while the
    // message box is open do not show a second one.
    Outcome Evaluate(bool enabled, double reading, double level, bool buzzer);

private:
    bool warningShown_ = false;
};

} // namespace korvinet::measure
