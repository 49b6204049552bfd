#pragma once

#include "device/counter.h"
#include "measure/measurement_session.h"
#include "net/map_upload_config.h"
#include "recording/journal_folder.h"
#include "settings/settings_record.h"
#include "station/station_options.h"

#include <QString>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace korvinet {

class Clock;
class D2xxDriver;
class JournalSink;
class Regional;
class RecordingJournal;

namespace net {
class MapUploads;
class MqttPublisher;
} // namespace net

namespace station {

class DiskOutbox;

// Everything the station runs with, settled before it starts.
struct StationConfig {
    StationOptions options;
    QString journalFolder; // options.journal, or the default folder
    QString password;      // for options.mqtt, read from the password file
    SettingsRecord stored; // the window program's settings: units, averaging, header
    int sampleMs = 3000;   // the sampling period
    int searchMs = 5000;   // between looks for a counter that is not there
    std::optional<net::UploadConfig> uploads; // maps to feed from the journal
};

// One line of standard output for a reading: local time with its UTC offset,
// the value as the window shows it, the unit, counts per minute, the counts
// of the sample and "ALARM" when the alarm is on, separated by tabs.
QString ReadingLine(const SessionReading& reading);

// The headless station: finds the counter, samples it through a
// MeasurementSession, writes every reading to standard output and the
// recording journal and, with a broker, into a disk outbox that an MQTT
// publisher empties. A counter that fails or goes away is looked for again
// until it returns; the station never ends on a counter fault.
class Station {
public:
    // Called once when the station has ended, with the exit status.
    using Finished = std::function<void(int exitCode)>;

    Station(StationConfig config, D2xxDriver& driver, const Clock& clock, const Regional& regional,
            Finished finished);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Takes the journal folder (one station per folder) and starts looking
    // for the counter. False with a one-line reason when it cannot run.
    [[nodiscard]] bool Start(QString* error);
    // Ends cleanly: the journal marked closed, the broker told "offline".
    // A second call while that is under way ends at once.
    void Stop(int exitCode = 0);

private:
    void Search();
    bool Connect(int listIndex);
    void Sample();
    void CounterLost(const QString& why);
    bool StartPublishing();
    void Publish(const SessionReading& reading);
    void Finish();
    void Log(const QString& line) const;
    MeasurementSession::AlarmSettings Alarm() const;

    StationConfig config_;
    const Clock& clock_;
    const Regional& regional_;
    Finished finished_;
    TCounter counter_;
    MeasurementSession session_;
    JournalFolderLock lock_;
    std::unique_ptr<RecordingJournal> journal_;
    std::unique_ptr<JournalSink> journalSink_;
    std::unique_ptr<DiskOutbox> outbox_;
    std::unique_ptr<net::MqttPublisher> publisher_;
    std::unique_ptr<net::MapUploads> uploads_;
    QTimer sampleTimer_;
    QTimer searchTimer_;
    QString serial_; // the counter this station logs, once found
    bool waitingLogged_ = false;
    bool outboxFailing_ = false;
    long long readings_ = 0;
    bool stopping_ = false;
    bool finishedCalled_ = false;
    int exitCode_ = 0;
};

} // namespace station
} // namespace korvinet
