#pragma once

#include "device/counter_choice.h"
#include "maps/map_upload_config.h"
#include "measure/measurement_session.h"
#include "recording/recorder.h"
#include "settings/settings_record.h"
#include "station/station_options.h"
#include "web/station_status.h"

#include <QString>
#include <functional>
#include <optional>

namespace korvinet::device {
class D2xxDriver;
class SerialFinder;
} // namespace korvinet::device

namespace korvinet::mqtt {
class MqttSink;
} // namespace korvinet::mqtt

namespace korvinet::platform {
class Clock;
class Regional;
} // namespace korvinet::platform

namespace korvinet::recording {
class Unattended;
} // namespace korvinet::recording

namespace korvinet::station {

// Everything the station runs with, settled before it starts.
struct StationConfig {
    StationOptions options;
    QString journalFolder;           // options.journal, or the default folder
    QString password;                // for options.mqtt, read from the password file
    settings::SettingsRecord stored; // the window program's settings: units, averaging, header
    int sampleMs = 3000;             // the sampling period
    int searchMs = 5000;             // between looks for a counter that is not there
    std::optional<maps::UploadConfig> uploads; // maps to feed from the journal
};

// The choices for counters the station works with: the window program's,
// with the command line's for its --device (or, without --device, its tube
// or sensitivity for any counter that carries no calibration).
device::CounterChoices ChoicesInForce(const StationConfig& config);

// One line of standard output for a reading: local time with its UTC offset,
// the value as the window shows it, the unit, counts per minute, the counts
// of the sample and "ALARM" when the alarm is on, separated by tabs.
QString ReadingLine(const measure::SessionReading& reading);

// The headless station: a recorder left to run unattended, which finds the
// counter, samples it, keeps every reading in the journal and hands it to
// the sinks the command line asks for (an MQTT broker); each reading is also
// a line on standard output. A counter that fails or goes away is looked for
// again until it returns; the station never ends on a counter fault. With
// --http it serves its web page, a sink of the recorder as well.
class Station {
public:
    // Called once when the station has ended, with the exit status.
    using Finished = std::function<void(int exitCode)>;

    // serial, when given, finds the counters on serial ports; it outlives
    // the station.
    Station(StationConfig config, device::D2xxDriver& driver, const platform::Clock& clock,
            const platform::Regional& regional, Finished finished,
            device::SerialFinder* serial = nullptr);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Takes the journal folder (one recording program per folder) and starts
    // looking for the counter. False with a one-line reason when it cannot
    // run.
    [[nodiscard]] bool Start(QString* error);
    // Ends cleanly: the journal marked closed, the broker told "offline".
    // A second call while that is under way ends at once.
    void Stop(int exitCode = 0);

private:
    void Ticked(const measure::MeasurementSession::TickOutcome& tick);
    bool StartWeb(QString* error);
    void AddFacts(web::StationStatus& status) const;
    void LogSkippedLines();
    void Log(const QString& line) const;

    StationConfig config_;
    // The window program's settings with the command line's in their place
    // and the station's own alarm.
    settings::SettingsRecord settings_;
    const platform::Clock& clock_;
    const platform::Regional& regional_;
    Finished finished_;
    recording::Recorder recorder_;
    recording::Unattended* unattended_ = nullptr; // owned by the recorder
    const mqtt::MqttSink* mqtt_ = nullptr;        // owned by the recorder
    device::SerialFinder* serial_;
    std::uint64_t skippedLogged_ = 0;
    long long readings_ = 0;
    bool stopping_ = false;
    int exitCode_ = 0;
};

} // namespace korvinet::station
