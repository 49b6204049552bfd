#pragma once

#include "device/reading.h"

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
    // Whether the latest counts look like radiation: "ok", "bursts", "too
    // regular", "stopped"; empty while undecided. With the statistic judged.
    QString health;
    std::optional<double> healthStatistic;
    // How the counter's counts become a dose rate, and where that comes from
    // ("EEPROM", "tube SBM-20"); none without a counter or a calibration.
    struct Calibration {
        double cpmPerMicrosievertHour = 0.0;
        double deadTimeSeconds = 0.0;
        QString source;
    };
    std::optional<Calibration> calibration;
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

} // namespace korvinet::web
