#pragma once

#include "device/reading.h"
#include "measure/measurement_session.h"

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <optional>

namespace korvinet::web {

enum class CounterState {
    Looking,       // no counter open: not found yet, or gone and looked for again
    Connected,     // open and counting
    CountsStopped, // open, but silent for longer than a live tube would be
};

// A reading and the moment it names, milliseconds since 1970-01-01 UTC.
struct TimedReading {
    Reading reading;
    qint64 utcMs = 0;
};

// What the station is doing, as the web page, the status API and the metrics
// show it. Everything is a copy: taking it never blocks the station.
struct StationStatus {
    QString serial; // empty until a counter was found
    QString model;
    QString version;
    std::uint8_t unitCode = 2; // the display unit readings are taken in
    QString averagingTime;     // "45 seconds"
    QString title;             // the data file header's title and notes
    QString notes;
    int sampleMs = 3000;
    CounterState counter = CounterState::Looking;
    std::optional<TimedReading> latest; // none before the first reading
    long long readingsTaken = 0;        // since the station started
    unsigned long long countsTotal = 0; // counts of those readings
    double startUtcSeconds = 0.0;       // when the station started
    double uptimeSeconds = 0.0;

    struct Mqtt {
        bool configured = false; // --mqtt given
        bool connected = false;
        QString state;         // "connected", "connecting", "waiting", ...
        long long waiting = 0; // readings in the outbox not yet acknowledged
    } mqtt;
};

// Where the web server reads the station's state from.
class StatusSource {
public:
    virtual ~StatusSource() = default;
    virtual StationStatus Status() const = 0;
};

// Keeps what the readings say for the status: the latest one, how many were
// taken and their counts. Added to the session as a sink.
class ReadingTracker final : public ReadingSink {
public:
    void OnReading(const SessionReading& reading) override;

    const std::optional<TimedReading>& Latest() const { return latest_; }
    long long ReadingsTaken() const { return taken_; }
    unsigned long long CountsTotal() const { return counts_; }
    // The latest reading came while the counts had stopped.
    bool CountsStopped() const { return countsStopped_; }

private:
    std::optional<TimedReading> latest_;
    long long taken_ = 0;
    unsigned long long counts_ = 0;
    bool countsStopped_ = false;
};

} // namespace korvinet::web
