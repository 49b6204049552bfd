#pragma once

#include "measure/alarm.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace korvinet {

class Clock;
class TCounter;

// One tick of the sampling cycle as it is handed on: to the window's display,
// to a journal, to a publisher.
struct SessionReading {
    enum class Status {
        Ok,        // a sample was taken and read
        Overrange, // a sample was taken; its rate is beyond the counter's range
        Failed,    // no sample: the driver failed (the counter has closed)
    };
    Status status = Status::Ok;
    // Local date-time (days since 30 December 1899): the counter's latest
    // reading time; for a failed tick, the moment of the failure.
    double time = 0.0;
    // The reading in the display unit; the overrange marker -1.0 when
    // overrange, 0 when failed.
    double value = 0.0;
    std::uint8_t unitCode = 0;
    QString text;     // the reading as shown, "1.100" or "OVERRANGE"; empty when failed
    QString unitName; // "mR/hr"
    // Counts per minute over the averaging window, without dead-time
    // correction; the overrange marker when overrange, 0 when failed.
    double countRate = 0.0;
    std::uint32_t counts = 0;    // counts in this sample
    std::uint32_t elapsedMs = 0; // milliseconds this sample covers
    bool alarm = false;          // the reading is above an enabled alarm level
    QString error;               // the counter's last error text unless Ok

    bool Ok() const { return status == Status::Ok; }
};

// Receives every tick's reading, within the tick. Implementations report
// their own failures and must not throw: the tick's display and point come
// after the sinks have run.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void OnReading(const SessionReading& reading) = 0;
};

// The sampling cycle without any window: each Tick takes one sample from the
// counter, reads it, applies the alarm rule and hands the reading to the
// sinks. The window and the headless station drive it from their own 3000-ms
// timers and show, plot, beep or log what it reports, so both measure alike.
class MeasurementSession {
public:
    struct AlarmSettings {
        bool enabled = false;
        double level = 1.0; // in the display unit
        bool buzzer = true;
    };

    struct TickOutcome {
        SessionReading reading;
        // The alarm decision for a reading that was taken (Ok): colours, beep
        // and whether this tick opens the excursion's one warning. Quiet
        // (black, default point colour) otherwise.
        AlarmRule::Outcome alarm;
        QString warningText; // "CAUTION! ALARM THRESHOLD EXCEEDED! 1.100 mR/hr"
    };

    // Both outlive the session.
    MeasurementSession(TCounter& counter, const Clock& clock);
    MeasurementSession(const MeasurementSession&) = delete;
    MeasurementSession& operator=(const MeasurementSession&) = delete;

    // Sinks are called in the order added; a sink must be removed before it
    // is destroyed.
    void AddSink(ReadingSink& sink);
    void RemoveSink(ReadingSink& sink);

    // One sample. A failed sample leaves the counter closed: the driver
    // failure closed it already, an overrange sample is closed here since its
    // data cannot be trusted.
    TickOutcome Tick(const AlarmSettings& alarm);

    // Remembers whether the current excursion's warning was given; it lasts
    // across connections.
    const AlarmRule& Alarm() const { return alarm_; }

private:
    TCounter& counter_;
    const Clock& clock_;
    AlarmRule alarm_;
    std::vector<ReadingSink*> sinks_;
};

} // namespace korvinet
