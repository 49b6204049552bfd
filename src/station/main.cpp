// korvinet-station: the command line is parsed, the settings gathered and
// the signals routed here; the Station does the rest.
#include "device/driver_choice.h"
#include "maps/map_upload_config.h"
#include "mqtt/mqtt_tls.h"
#include "mqtt/mqtt_url.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "platform/stop_signals.h"
#include "platform/version.h"
#include "settings/reg_file_store.h"
#include "settings/settings_io.h"
#include "station/station.h"

#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

using korvinet::station::ParsedCommandLine;

// The window program's settings, read without ever writing to its store (a
// damaged store is the window's to set aside, not the station's).
class ReadOnlyStore final : public korvinet::settings::SettingsStore {
public:
    explicit ReadOnlyStore(korvinet::settings::SettingsStore& store) : store_(store) {}
    std::unique_ptr<korvinet::settings::SettingsKey> OpenRead() override {
        return store_.OpenRead();
    }
    std::unique_ptr<korvinet::settings::SettingsKey> OpenWrite() override { return nullptr; }
    bool KeepDamagedCopy() override { return true; }

private:
    korvinet::settings::SettingsStore& store_;
};

korvinet::settings::SettingsRecord StoredSettings() {
    korvinet::settings::RegFileSettingsStore file(
        korvinet::settings::RegFileSettingsStore::DefaultPath());
    ReadOnlyStore store(file);
    korvinet::settings::SettingsRecord record;
    if (!korvinet::settings::ReadSettings(store, &record))
        record = {};
    const korvinet::settings::SettingsRecord defaults;
    if (record.UnitsIndex < 0 || record.UnitsIndex > 4)
        record.UnitsIndex = defaults.UnitsIndex;
    if (record.AveragingTimeIndex < 0 || record.AveragingTimeIndex > 6)
        record.AveragingTimeIndex = defaults.AveragingTimeIndex;
    return record;
}

int Fail(const QString& message, int code) {
    std::fprintf(stderr, "korvinet-station: %s\n", qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = korvinet::station::ParseCommandLine(arguments);
    switch (parsed.action) {
    case ParsedCommandLine::Action::Help:
        std::fputs(qPrintable(korvinet::station::UsageText()), stdout);
        return 0;
    case ParsedCommandLine::Action::Version:
        std::printf("korvinet-station %s\n", qPrintable(korvinet::platform::OwnVersionText()));
        return 0;
    case ParsedCommandLine::Action::Error:
        std::fprintf(stderr, "korvinet-station: %s (see --help)\n", qPrintable(parsed.error));
        return korvinet::station::kUsageExitCode;
    case ParsedCommandLine::Action::Run:
        break;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Korvinet"));
    QCoreApplication::setApplicationVersion(korvinet::platform::OwnVersionText());

    korvinet::station::StationConfig config;
    config.options = parsed.options;
    config.stored = StoredSettings();
    config.journalFolder = config.options.journal.isEmpty()
                               ? korvinet::recording::Recorder::DefaultJournalFolder()
                               : config.options.journal;
    // Under systemd the password comes as a credential: a copy only the
    // service may read, with no path to give.
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    const QString credential = credentials + QStringLiteral("/mqtt-password");
    if (config.options.passwordFile.isEmpty() && config.options.mqtt &&
        !config.options.mqtt->user.isEmpty() && !credentials.isEmpty() && QFile::exists(credential))
        config.options.passwordFile = credential;
    if (!config.options.passwordFile.isEmpty()) {
        QString why;
        const auto password = korvinet::mqtt::ReadPasswordFile(config.options.passwordFile, &why);
        if (!password)
            return Fail(QStringLiteral("--mqtt-password-file: ") + why,
                        korvinet::station::kUsageExitCode);
        config.password = *password;
    }
    const std::pair<const char*, QString> files[] = {
        {"--mqtt-password-file", config.options.passwordFile},
        {"--mqtt-cafile", config.options.caFile},
        {"--mqtt-cert", config.options.certFile},
        {"--mqtt-key", config.options.keyFile},
    };
    for (const auto& [option, path] : files) {
        if (path.isEmpty())
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return Fail(QStringLiteral("%1: cannot read \"%2\": %3")
                            .arg(QLatin1String(option), path, file.errorString()),
                        korvinet::station::kUsageExitCode);
        const bool secret = option == files[0].first || option == files[3].first;
        if (secret && (file.permissions() & QFileDevice::ReadOther))
            std::fprintf(stderr,
                         "korvinet-station: %s: \"%s\" is readable by every user of this "
                         "machine; make it readable by the station alone (chmod o-r)\n",
                         option, qPrintable(path));
    }
    if (config.options.mqtt && config.options.mqtt->tls) {
        using File = korvinet::mqtt::TlsFileProblem::File;
        const auto problem = korvinet::mqtt::CheckTlsFiles(
            config.options.caFile, config.options.certFile, config.options.keyFile);
        if (problem) {
            const char* option = problem->file == File::Authority     ? "--mqtt-cafile"
                                 : problem->file == File::Certificate ? "--mqtt-cert"
                                                                      : "--mqtt-key";
            return Fail(QLatin1String(option) + QStringLiteral(": ") + problem->why,
                        korvinet::station::kUsageExitCode);
        }
    }
    if (!config.options.uploadFile.isEmpty()) {
        QString why;
        config.uploads = korvinet::maps::ReadUploadFile(config.options.uploadFile, &why);
        if (!config.uploads)
            return Fail(QStringLiteral("--upload: ") + why, korvinet::station::kUsageExitCode);
    }
    bool ok = false;
    const int sampleMs = qEnvironmentVariableIntValue("KORVINET_STATION_SAMPLE_MS", &ok);
    if (ok && sampleMs >= 10)
        config.sampleMs = sampleMs;

    korvinet::platform::SystemClock clock;
    korvinet::platform::Regional regional;
    const korvinet::device::CounterDrivers drivers =
        korvinet::device::CreateCounterDrivers(korvinet::device::ReadDriverChoice(), clock);
    korvinet::station::Station station(
        config, *drivers.ftdi, clock, regional, [](int code) { QCoreApplication::exit(code); },
        drivers.serial.get());

    // A service stopped, Ctrl+C, or the terminal or ssh session gone
    // (SIGHUP): each ends the run cleanly, the lock released.
    korvinet::platform::StopSignalRoute stopSignals;
    QString routing;
    if (!stopSignals.Route(
            {SIGTERM, SIGINT, SIGHUP}, [&station](int) { station.Stop(0); }, &routing))
        return Fail(routing, 1);

    QString why;
    if (!station.Start(&why))
        return Fail(why, 1);
    return QCoreApplication::exec();
}
