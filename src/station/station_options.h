#pragma once

#include "mqtt/mqtt_url.h"
#include "web/http_server.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace korvinet::station {

// What the command line asks of the station. Settings left out take their
// defaults later, from the window program's stored settings and the system.
struct StationOptions {
    QString device; // serial number or port path; empty: the only attached counter
    QString kind;   // the serial kind of the counter on --device; empty: as stored
    int baud = 0;   // its baud rate; 0: the kind's own
    QString tube;   // the tube of a counter without a calibration of its own
    std::optional<double> sensitivity; // instead of a tube: CPM per µSv/hr
    std::optional<double> deadTime;    // with sensitivity, in seconds
    std::optional<int> unitCode;       // display unit code (kDisplayUnits)
    std::optional<int> averagingIndex; // entry of CountTimeEntries()
    std::optional<double> alarmLevel;  // in the display unit; none: no alarm
    QString journal;                   // empty: the default journal folder
    std::optional<mqtt::MqttUrl> mqtt; // none: no publishing
    QString topicPrefix = QStringLiteral("korvinet");
    QString discoveryPrefix = QStringLiteral("homeassistant"); // Home Assistant's
    QString passwordFile;
    QString caFile;   // mqtts: the certificate authority to trust instead of the system's
    QString certFile; // mqtts: a client certificate, with its key
    QString keyFile;
    double replayRate = 200;              // readings per second at most on the reading topic
    int outboxDays = 30;                  // readings the broker has not had for longer are given up
    std::optional<long long> count;       // stop after this many readings
    std::optional<web::HttpAddress> http; // none: no web page
    QString uploadFile;                   // public radiation maps to feed; empty: none
};

struct ParsedCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    StationOptions options;
    QString error; // one line, for Action::Error
};

// Exit status for a mistake that running again cannot mend: a command line
// or a file it names that cannot be used, a login the broker refuses,
// several counters and none chosen. The service is not restarted after it.
constexpr int kUsageExitCode = 2;

// The arguments after the program name, each "--name value" or
// "--name=value". Pure: reads no file and no setting.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

// The --help text.
QString UsageText();

} // namespace korvinet::station
