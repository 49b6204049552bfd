#pragma once

#include "measure/reading_sink.h"
#include "recording/recorder.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace korvinet::recording {

// Recording with nobody at the controls: looks for the counter, connects it,
// samples it every sampleMs and, while no counter is there (none at the
// start, a fault, unplugged), looks for it every searchMs. It drives the
// recorder through the operations the window uses, and tells what happens
// through the plan's callbacks.
//
// It is the recorder's first sink: the line saying that the counter was found
// comes before anything the other sinks make of it, and closing the recorder
// ends the sampling and the looking.
class Unattended final : public measure::ReadingSink {
public:
    struct Plan {
        // A counter's serial number or port path; empty: the only one attached.
        QString wanted;
        Recorder::CounterSettings settings;
        int sampleMs = 3000;
        int searchMs = 5000;
        std::function<measure::MeasurementSession::AlarmSettings()> alarm;
        // Every sample taken (not the failed ones).
        std::function<void(const measure::MeasurementSession::TickOutcome&)> ticked;
        // A line for the operator: found, lost, looking again.
        std::function<void(const QString& line)> log;
        // Several counters and none chosen: the serials attached.
        std::function<void(const QStringList& serials)> ambiguous;
        // Said after the line for a counter without a calibration: how to
        // give it one.
        QString uncalibratedHint;
    };

    // The recorder outlives this.
    explicit Unattended(Recorder& recorder);
    Unattended(const Unattended&) = delete;
    Unattended& operator=(const Unattended&) = delete;

    // Starts with a look for the counter, at once.
    void Run(Plan plan);

    void OnReading(const measure::SessionReading&) override {}
    void OnCounter(const measure::CounterEvent& event) override;
    // No more samples nor looks, also when the recorder is closed from one of
    // the callbacks.
    void Stop(const std::function<void()>& done) override;

private:
    void Search();
    bool Connect(int listIndex);
    void Sample();
    void Lost(const QString& why);
    void Log(const QString& line) const;

    Recorder& recorder_;
    Plan plan_;
    QTimer sampleTimer_;
    QTimer searchTimer_;
    QString serial_; // the counter found last, looked for again after a fault
    bool waitingLogged_ = false;
    bool stopped_ = false;
};

} // namespace korvinet::recording
