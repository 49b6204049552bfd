#include "measure/measurement_session.h"

#include "device/counter.h"
#include "platform/clock.h"

namespace korvinet::measure {

QString HealthText(const SessionReading& reading) {
    return reading.countsStopped ? QStringLiteral("stopped") : CountsHealthText(reading.health);
}

MeasurementSession::MeasurementSession(device::TCounter& counter, const platform::Clock& clock)
    : counter_(counter), clock_(clock) {}

MeasurementSession::TickOutcome MeasurementSession::Tick(const AlarmSettings& settings) {
    TickOutcome out;
    SessionReading& r = out.reading;
    const bool taken = counter_.ReadCounts();
    // An overrange sample was taken (and leaves the counter open); any other
    // failure took none and has closed the counter.
    const bool overrange = !taken && counter_.CountRate() == device::TCounter::kOverrange;
    r.overrange = overrange;
    r.status = taken       ? SessionReading::Status::Ok
               : overrange ? SessionReading::Status::Overrange
                           : SessionReading::Status::Failed;
    r.unitCode = counter_.UnitCode();
    r.unitName = counter_.UnitName();
    if (taken || overrange) {
        r.time = counter_.LatestReadingTime();
        r.utcOffsetSeconds = counter_.LatestReadingUtcOffset();
    } else {
        const platform::Clock::Moment now = clock_.NowWithOffset();
        r.time = now.local;
        r.utcOffsetSeconds = now.utcOffsetSeconds;
    }
    if (taken || overrange) {
        r.counts = counter_.CountHistory()[0];
        r.intervalMs = counter_.ElapsedHistory()[0];
        r.value = counter_.Reading();
        r.text = counter_.ReadingText();
        r.cpm = counter_.CountRate();
    }
    if (overrange)
        counter_.Close(); // its data cannot be trusted; the sample has failed already
    if (!taken)
        r.error = counter_.FailureCause();

    if (taken) {
        const CountWindow window = CountWindow::Of(counter_);
        const RateConversion conversion = RateConversion::Of(counter_);
        r.band = ConfidenceBand(window, conversion);

        // The rule not in force is kept disabled, so choosing it again
        // starts it afresh instead of from a state long out of date.
        const bool significance = settings.rule == Rule::Significance;
        out.alarm = significance ? significance_.Evaluate(settings.enabled, window, settings.level,
                                                          conversion, settings.buzzer)
                                 : alarm_.Evaluate(settings.enabled, r.value, settings.level,
                                                   settings.buzzer);
        if (significance)
            alarm_.Evaluate(false, r.value, settings.level, settings.buzzer);
        else
            significance_.Evaluate(false, window, settings.level, conversion, settings.buzzer);
        r.alarm = out.alarm.alarm;
        if (out.alarm.showWarning)
            out.warningText = QStringLiteral("CAUTION! ALARM THRESHOLD EXCEEDED! ") + r.text +
                              QLatin1Char(' ') + r.unitName;

        const CountsHealthCheck::Verdict verdict = health_.Update(r.counts, r.intervalMs);
        r.health = verdict.state;
        r.healthStatistic = verdict.statistic;
        if (verdict.episodeStarted && settings.healthWarning) {
            out.showHealthWarning = true;
            out.healthWarningText = CountsHealthWarningText(verdict.state);
        }

        // The detector learns the counter's rate even while its warning is
        // off, so turning the warning on needs no new history.
        const CountsStoppedDetector::Outcome silence =
            stopped_.AddSample(r.counts, r.intervalMs, counter_.Sensitivity() / 10);
        r.silentSeconds = silence.silentSeconds;
        if (!silence.stopped) {
            stoppedWarned_ = false;
        } else if (settings.countsStoppedWarning) {
            r.countsStopped = true;
            if (!stoppedWarned_) {
                stoppedWarned_ = true;
                out.showCountsStopped = true;
                out.countsStoppedText = CountsStoppedText(silence.silentSeconds);
            }
        }
    }

    return out;
}

void MeasurementSession::CounterConnected() {
    stopped_.Restart();
    health_.Restart();
    health_.SetDeadTime(counter_.DeadTime());
    stoppedWarned_ = false;
}

} // namespace korvinet::measure
