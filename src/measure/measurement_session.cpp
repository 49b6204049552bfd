#include "measure/measurement_session.h"

#include "device/counter.h"
#include "platform/clock.h"

#include <algorithm>

namespace korvinet {

MeasurementSession::MeasurementSession(TCounter& counter, const Clock& clock)
    : counter_(counter), clock_(clock) {}

void MeasurementSession::AddSink(ReadingSink& sink) {
    sinks_.push_back(&sink);
}

void MeasurementSession::RemoveSink(ReadingSink& sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), &sink), sinks_.end());
}

MeasurementSession::TickOutcome MeasurementSession::Tick(const AlarmSettings& settings) {
    TickOutcome out;
    SessionReading& r = out.reading;
    const bool taken = counter_.ReadCounts();
    // An overrange sample was taken (and leaves the counter open); any other
    // failure took none and has closed the counter.
    const bool overrange = !taken && counter_.CountRate() == TCounter::kOverrange;
    r.status = taken       ? SessionReading::Status::Ok
               : overrange ? SessionReading::Status::Overrange
                           : SessionReading::Status::Failed;
    r.unitCode = counter_.UnitCode();
    r.unitName = counter_.UnitName();
    r.time = taken || overrange ? counter_.LatestReadingTime() : clock_.Now();
    if (taken || overrange) {
        r.counts = counter_.CountHistory()[0];
        r.elapsedMs = counter_.ElapsedHistory()[0];
        r.value = counter_.Reading();
        r.text = counter_.ReadingText();
        r.countRate = counter_.CountRate();
    }
    if (overrange)
        counter_.Close(); // its data cannot be trusted; the sample has failed already
    if (!taken)
        r.error = counter_.LastError();

    if (taken) {
        out.alarm = alarm_.Evaluate(settings.enabled, r.value, settings.level, settings.buzzer);
        r.alarm = out.alarm.alarm;
        if (out.alarm.showWarning)
            out.warningText = QStringLiteral("CAUTION! ALARM THRESHOLD EXCEEDED! ") + r.text +
                              QLatin1Char(' ') + r.unitName;
    }

    for (ReadingSink* sink : sinks_)
        sink->OnReading(r);
    return out;
}

} // namespace korvinet
