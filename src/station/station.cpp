#include "station/station.h"

#include "device/serial_finder.h"
#include "device/serial_kinds.h"
#include "maps/map_uploader.h"
#include "measure/averaging_time.h"
#include "mqtt/mqtt_sink.h"
#include "platform/datetime.h"
#include "platform/version.h"
#include "recording/journal_reader.h"
#include "recording/recorder_settings.h"
#include "recording/unattended.h"
#include "web/web_sink.h"

#include <QDir>
#include <QTimer>
#include <cstdio>
#include <limits>

namespace korvinet::station {

namespace {

constexpr std::int8_t kCpmUnit = 1;

// The window program's settings with the command line's in their place. The
// alarm is the command line's alone, by the level rule and without a buzzer
// (no one to hear it); nobody is shown a box, so a fault of the counts is
// always told, as one log line.
settings::SettingsRecord InForce(const StationConfig& config) {
    settings::SettingsRecord settings = config.stored;
    const StationOptions& options = config.options;
    if (options.unitCode)
        settings.UnitsIndex = *options.unitCode;
    if (options.averagingIndex)
        settings.AveragingTimeIndex = *options.averagingIndex;
    settings.AlarmEnabled = options.alarmLevel.has_value();
    settings.AlarmLevel = options.alarmLevel.value_or(1.0);
    settings.AlarmBuzzer = false;
    settings.AlarmRuleIndex = 0;
    settings.WarnCountsHealth = true;
    return settings;
}

} // namespace

device::CounterChoices ChoicesInForce(const StationConfig& config) {
    device::CounterChoices choices = device::ParseCounterChoices(config.stored.CounterChoices);
    const StationOptions& o = config.options;
    if (o.kind.isEmpty() && o.tube.isEmpty() && !o.sensitivity) {
        // A port named without a kind: only a counter that says what it is
        // when asked can be found there.
        if (o.device.startsWith(QLatin1Char('/')) &&
            !device::FindChoice(choices, o.device, o.device))
            choices.push_back({o.device, {}, 0, {}, 0, 0});
        return choices;
    }
    const QString counter = o.device.isEmpty() ? device::kAnyCounter : o.device;
    device::CounterChoice chosen;
    chosen.counter = counter;
    for (auto it = choices.begin(); it != choices.end(); ++it) {
        if (it->counter == counter) {
            chosen = *it;
            choices.erase(it);
            break;
        }
    }
    if (!o.kind.isEmpty()) {
        chosen.kind = o.kind;
        chosen.baud = o.baud;
    }
    if (!o.tube.isEmpty() || o.sensitivity) {
        chosen.tube = o.tube;
        chosen.cpmPerMicrosievertHour = o.sensitivity.value_or(0.0);
        chosen.deadTimeSeconds = o.deadTime.value_or(0.0);
    }
    // The command line's choice decides over a stored one for any counter.
    choices.insert(choices.begin(), chosen);
    return choices;
}

QString ReadingLine(const measure::SessionReading& reading) {
    const bool overrange = reading.status == measure::SessionReading::Status::Overrange;
    QStringList fields = {
        platform::IsoLocalTimeText(device::MomentOf(reading)), reading.text, reading.unitName,
        overrange ? reading.text : device::TCounter::FormatValueOf(reading.cpm, kCpmUnit),
        QString::number(reading.counts)};
    if (reading.alarm)
        fields << QStringLiteral("ALARM");
    return fields.join(QLatin1Char('\t'));
}

Station::Station(StationConfig config, device::D2xxDriver& driver, const platform::Clock& clock,
                 const platform::Regional& regional, Finished finished,
                 device::SerialFinder* serial)
    : config_(std::move(config)), settings_(InForce(config_)), clock_(clock), regional_(regional),
      finished_(std::move(finished)),
      recorder_(driver, clock, regional, {config_.journalFolder, settings_.RecordingKeepDays},
                serial),
      serial_(serial) {
    if (serial_)
        serial_->SetChoices(ChoicesInForce(config_));
    auto unattended = std::make_unique<recording::Unattended>(recorder_);
    unattended_ = unattended.get();
    recorder_.AddSink(std::move(unattended));
    recorder_.SetFileHeader([this] { return recording::JournalHeaderOf(settings_, recorder_); });
    recorder_.SetStatusHandler([this](const QString& text) {
        Log(text.isEmpty() ? QStringLiteral("journal: recording again")
                           : QStringLiteral("journal: ") + text);
    });
}

void Station::Log(const QString& line) const {
    std::fprintf(stderr, "korvinet-station: %s\n", qPrintable(line));
    std::fflush(stderr);
}

bool Station::Start(QString* error) {
    const QString folder = config_.journalFolder;
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot use the journal folder \"%1\"").arg(folder);
        return false;
    }
    // A station that cannot have its folder is a mistake to report, not a
    // state to wait out as the window does.
    recorder_.StartRecording();
    if (!recorder_.IsRecording()) {
        *error = recorder_.RecordingStatus();
        error->remove(QStringLiteral("Not recording: "));
        return false;
    }
    if (const QString problem = recorder_.HistoryProblem(); !problem.isEmpty())
        Log(QStringLiteral("history: ") + problem);

    const auto unitCode = static_cast<std::uint8_t>(settings_.UnitsIndex);
    if (config_.options.mqtt) {
        mqtt::MqttSinkOptions mqtt;
        mqtt.url = *config_.options.mqtt;
        mqtt.password = config_.password;
        mqtt.topicPrefix = config_.options.topicPrefix;
        mqtt.discoveryPrefix = config_.options.discoveryPrefix;
        mqtt.caFile = config_.options.caFile;
        mqtt.certFile = config_.options.certFile;
        mqtt.keyFile = config_.options.keyFile;
        mqtt.outboxRoot = folder + QStringLiteral("/mqtt");
        mqtt.device = config_.options.device;
        mqtt.unitCode = unitCode;
        mqtt.sampleMs = config_.sampleMs;
        mqtt.replayRate = config_.options.replayRate;
        mqtt.outboxDays = config_.options.outboxDays;
        mqtt.journal = [reader = recording::JournalReader(folder)](const QDateTime& after,
                                                                   const auto& take) {
            reader.Visit(after.toMSecsSinceEpoch() + 1, std::numeric_limits<qint64>::max(),
                         [&take](const device::TimedReading& sample) {
                             take(sample.reading);
                             return true;
                         });
        };
        auto sink = std::make_unique<mqtt::MqttSink>(
            mqtt, [this](const QString& line) { Log(line); },
            [this](mqtt::MqttSink::Failure failure) {
                // A refused login is a mistake to fix, not a fault to wait out.
                const int code = failure == mqtt::MqttSink::Failure::Refused ? kUsageExitCode : 1;
                QTimer::singleShot(0, [this, code] { Stop(code); });
            });
        if (!sink->Start(error))
            return false;
        mqtt_ = sink.get();
        recorder_.AddSink(std::move(sink));
    }
    if (config_.options.http && !StartWeb(error))
        return false;

    if (config_.uploads) {
        // Uploads read what the journal recorded, so a gap (the network, the
        // service or this station away) is filled from it afterwards.
        maps::UploadContext context;
        context.readSamples = maps::JournalSamples(folder);
        context.cursorFolder = folder + QStringLiteral("/uploads");
        context.timeScale = config_.sampleMs / 3000.0;
        context.log = [this](const QString& line) { Log(line); };
        context.counterConversion = [this] {
            return measure::RateConversion::Of(recorder_.Counter());
        };
        auto uploads = std::make_unique<maps::MapUploads>(*config_.uploads, context);
        uploads->Start();
        recorder_.AddSink(std::move(uploads));
    }

    recording::Unattended::Plan plan;
    plan.wanted = config_.options.device;
    plan.settings = {unitCode, measure::CountTimeEntries().value(settings_.AveragingTimeIndex),
                     settings_.BeepEnabled};
    plan.sampleMs = config_.sampleMs;
    plan.searchMs = config_.searchMs;
    plan.alarm = [this] { return recording::AlarmSettingsOf(settings_); };
    plan.ticked = [this](const measure::MeasurementSession::TickOutcome& tick) { Ticked(tick); };
    plan.log = [this](const QString& line) { Log(line); };
    plan.uncalibratedHint = QStringLiteral(" (give --tube NAME or --sensitivity CPM)");
    plan.ambiguous = [this](const QStringList& serials) {
        Log(QStringLiteral("%1 counters are attached (%2): choose one with --device SERIAL")
                .arg(serials.size())
                .arg(serials.join(QStringLiteral(", "))));
        Stop(kUsageExitCode);
    };
    // The choices outlive the pointer into them.
    const device::CounterChoices choices = ChoicesInForce(config_);
    const device::CounterChoice* named = device::FindChoice(choices, config_.options.device);
    if (config_.options.device.startsWith(QLatin1Char('/')) && named && named->kind.isEmpty())
        Log(QStringLiteral("%1: no kind of counter named for this port; give --kind %2")
                .arg(config_.options.device, device::SerialKindIds()));
    unattended_->Run(std::move(plan));
    return true;
}

bool Station::StartWeb(QString* error) {
    auto sink =
        std::make_unique<web::WebSink>(config_.journalFolder, recorder_.History(), clock_,
                                       regional_, [this](web::StationStatus& s) { AddFacts(s); });
    if (!sink->Listen(*config_.options.http, error))
        return false;
    web::HttpAddress shown = *config_.options.http;
    shown.port = sink->Port();
    Log(QStringLiteral("web page at http://%1/").arg(shown.Display()));
    recorder_.AddSink(std::move(sink));
    return true;
}

void Station::AddFacts(web::StationStatus& s) const {
    s.version = platform::OwnVersionText();
    s.unitCode = static_cast<std::uint8_t>(settings_.UnitsIndex);
    s.averagingTime = measure::CountTimeEntries().value(settings_.AveragingTimeIndex);
    s.title = settings_.GraphTitle;
    s.notes = settings_.GraphNotes;
    s.sampleMs = config_.sampleMs;
    if (const auto alarm = recording::AlarmSettingsOf(settings_); alarm.enabled)
        s.alarmLevel = alarm.level;
    // Whatever the kind, the calibration its readings are converted with:
    // the counter's own, or the tube or factor chosen for it.
    const device::TCounter& counter = recorder_.Counter();
    if (counter.Sensitivity() > 0 && !counter.CpmOnly()) {
        s.conversion = measure::RateConversion::Of(counter);
        s.calibration = web::StationStatus::Calibration{
            counter.Sensitivity() / 10, counter.DeadTime(), counter.CalibrationSource()};
    }
    s.mqtt.configured = mqtt_ != nullptr;
    if (!mqtt_)
        return;
    using State = mqtt::MqttPublisher::State;
    const State state = mqtt_->LinkState();
    s.mqtt.state = mqtt::MqttPublisher::StateText(state);
    s.mqtt.connected = state == State::Connected;
    s.mqtt.waiting = static_cast<long long>(mqtt_->Waiting());
}

void Station::Ticked(const measure::MeasurementSession::TickOutcome& tick) {
    std::fprintf(stdout, "%s\n", ReadingLine(tick.reading).toUtf8().constData());
    std::fflush(stdout);
    if (tick.alarm.showWarning)
        Log(tick.warningText);
    if (tick.showCountsStopped)
        Log(tick.countsStoppedText);
    if (tick.showHealthWarning)
        Log(tick.healthWarningText);
    LogSkippedLines();
    ++readings_;
    if (config_.options.count && readings_ >= *config_.options.count)
        Stop(0);
}

void Station::LogSkippedLines() {
    // A counter whose lines do not read (noise, a wrong baud rate) says so
    // as it happens, not every sample.
    const std::uint64_t skipped = recorder_.Counter().LinkStatus().skipped;
    if (skipped > skippedLogged_)
        Log(QStringLiteral("counter %1: %2 lines did not read and were skipped (%3 so far)")
                .arg(recorder_.Counter().Info().SerialNumber)
                .arg(skipped - skippedLogged_)
                .arg(skipped));
    skippedLogged_ = skipped;
}

void Station::Stop(int exitCode) {
    if (!stopping_)
        exitCode_ = exitCode;
    stopping_ = true;
    // The recorder ends after its sinks; a second stop ends at once.
    recorder_.Close([this] {
        QTimer::singleShot(0, [this] {
            if (finished_)
                finished_(exitCode_);
        });
    });
}

} // namespace korvinet::station
