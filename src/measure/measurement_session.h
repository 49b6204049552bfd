#pragma once

#include "measure/alarm.h"
#include "measure/confidence_band.h"
#include "measure/counts_health.h"
#include "measure/counts_stopped.h"
#include "measure/significance_alarm.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::measure {

// One tick of the sampling cycle as it is handed on: to the window's display,
// to a journal, to a publisher. The reading itself (time, value, unit, count
// rate, counts, interval, alarm, overrange, band) with what the tick adds:
// whether a sample was taken, the texts as shown and the counter's silence.
//  - time: the counter's latest reading time; for a failed tick, the moment
//    of the failure.
//  - value, cpm: the overrange marker when overrange, 0 when failed.
//  - band: for a reading that was taken (Ok) only. Derived from the counts,
//    so publishers may show it but data files do not keep it.
struct SessionReading : device::Reading {
    enum class Status {
        Ok,        // a sample was taken and read
        Overrange, // a sample was taken; its rate is beyond the counter's range
        Failed,    // no sample: the driver failed (the counter has closed)
    };
    Status status = Status::Ok;
    QString text;     // the reading as shown, "1.100" or "OVERRANGE"; empty when failed
    QString unitName; // "mR/hr"
    // The counter has been silent for longer than a live tube would be, and
    // the warning for that is on: readings of this stretch are suspect.
    bool countsStopped = false;
    double silentSeconds = 0.0; // since the last sample with counts
    // Whether the counts of the last minutes behave as radioactive decay
    // does (counts_health.h), with the statistic it was judged by; judged
    // for every reading taken, whether or not the warning is on.
    CountsHealth health = CountsHealth::Undecided;
    std::optional<double> healthStatistic;
    QString error; // why the counter failed (its FailureCause()) unless Ok

    bool Ok() const { return status == Status::Ok; }
};

// The reading's health as publishers name it: "stopped" while the counts have
// stopped, otherwise "ok", "bursts" or "too regular"; empty while undecided.
QString HealthText(const SessionReading& reading);

// The sampling cycle without any window: each Tick takes one sample from the
// counter, reads it and applies the alarm rule. The recorder that the window
// and the headless station both drive runs it and hands its readings on, so
// both measure alike.
class MeasurementSession {
public:
    enum class Rule {
        Level,        // every reading above the level (AlarmRule)
        Significance, // only an excess the counts prove (SignificanceAlarm)
    };

    // The alarms a tick may raise, as the user has set them.
    struct AlarmSettings {
        bool enabled = false;
        double level = 1.0; // in the display unit
        bool buzzer = true;
        Rule rule = Rule::Level;
        bool countsStoppedWarning = true;
        // Warn once per episode when the counts do not look like radiation.
        bool healthWarning = false;
    };

    struct TickOutcome {
        SessionReading reading;
        // The alarm decision for a reading that was taken (Ok): colours, beep
        // and whether this tick opens the excursion's one warning. Quiet
        // (black, default point colour) otherwise.
        AlarmRule::Outcome alarm;
        QString warningText; // "CAUTION! ALARM THRESHOLD EXCEEDED! 1.100 mR/hr"
        // The one warning of a silence: the first tick it is known (and the
        // warning is on), or the first tick after the warning was turned on
        // during it.
        bool showCountsStopped = false;
        QString countsStoppedText; // "No counts for 45 seconds: check the ..."
        // The one warning of a fault episode of the counts (the warning is on).
        bool showHealthWarning = false;
        QString healthWarningText;
    };

    // Both outlive the session.
    MeasurementSession(device::TCounter& counter, const platform::Clock& clock);
    MeasurementSession(const MeasurementSession&) = delete;
    MeasurementSession& operator=(const MeasurementSession&) = delete;

    // One sample. A failed sample leaves the counter closed: the driver
    // failure closed it already, an overrange sample is closed here since its
    // data cannot be trusted.
    TickOutcome Tick(const AlarmSettings& alarm);

    // A newly connected counter: what was learned about the silence of the
    // previous one does not apply. The alarm state is kept (one warning per
    // excursion, across connections).
    void CounterConnected();

private:
    device::TCounter& counter_;
    const platform::Clock& clock_;
    AlarmRule alarm_;
    SignificanceAlarm significance_;
    CountsStoppedDetector stopped_;
    CountsHealthCheck health_;
    bool stoppedWarned_ = false; // this silence has had its warning
};

} // namespace korvinet::measure
