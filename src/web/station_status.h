#pragma once

#include "device/reading.h"
#include "measure/confidence_band.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <optional>

class QJsonObject;
class QJsonValue;

namespace korvinet::web {

enum class CounterState {
    Looking,       // no counter open: not found yet, or gone and looked for again
    Connected,     // open and counting
    CountsStopped, // open, but silent for longer than a live tube would be
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
    int utcOffsetSeconds = 0; // the station's offset from UTC now
    // The alarm level in force, in unitCode; none while the alarm is off.
    std::optional<double> alarmLevel;
    // The oldest moment the history answers for; none while it is empty.
    std::optional<device::TimedReading> firstReading;
    // How the counter's counts become a dose rate; none until a counter with
    // a sensitivity was read.
    std::optional<measure::RateConversion> conversion;
    CounterState counter = CounterState::Looking;
    std::optional<device::TimedReading> latest; // none before the first reading
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

// The status as /api/status answers it.
QByteArray StatusJson(const StationStatus& status);
// A reading as /api/status shows the latest and /api/readings each row:
// {"time", "value", "unit", "cpm", "counts", "interval_ms", "alarm"
// [, "overrange"][, "band_low", "band_high"]}.
QJsonObject ReadingJson(const device::TimedReading& reading);
// The counter's conversion into µSv/h; none while it is not known.
std::optional<measure::RateConversion> DoseRateConversion(const StationStatus& status);
// A number in JSON; null for one that is not finite, which JSON cannot hold.
QJsonValue JsonNumber(double value);

// Where the web server reads the station's state from.
class StatusSource {
public:
    virtual ~StatusSource() = default;
    virtual StationStatus Status() const = 0;
};

} // namespace korvinet::web
