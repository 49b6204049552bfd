#pragma once

#include "net/mqtt_url.h"
#include "web/http_server.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace korvinet::station {

// What the command line asks of the station. Settings left out take their
// defaults later, from the window program's stored settings and the system.
struct StationOptions {
    QString device;                    // serial number; empty: the only attached counter
    std::optional<int> unitCode;       // display unit code (kDisplayUnits)
    std::optional<int> averagingIndex; // entry of CountTimeEntries()
    std::optional<double> alarmLevel;  // in the display unit; none: no alarm
    QString journal;                   // empty: the default journal folder
    std::optional<net::MqttUrl> mqtt;  // none: no publishing
    QString topicPrefix = QStringLiteral("korvinet");
    QString passwordFile;
    std::optional<long long> count;       // stop after this many readings
    std::optional<web::HttpAddress> http; // none: no web page
};

struct ParsedCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    StationOptions options;
    QString error; // one line, for Action::Error
};

// Exit status for a command line that cannot be used.
constexpr int kUsageExitCode = 2;

// The arguments after the program name, each "--name value" or
// "--name=value". Pure: reads no file and no setting.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

// The --help text.
QString UsageText();

// The averaging time as the option takes it: the entry's length in seconds.
int AveragingSeconds(int entryIndex);

} // namespace korvinet::station
