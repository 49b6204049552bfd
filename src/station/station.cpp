#include "station/station.h"

#include "device/display_units.h"
#include "measure/averaging_time.h"
#include "net/map_uploader.h"
#include "net/mqtt_payload.h"
#include "net/mqtt_publisher.h"
#include "net/update_check.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/text_format.h"
#include "recording/journal_sink.h"
#include "recording/recording_journal.h"
#include "station/disk_outbox.h"
#include "station/journal_samples.h"

#include <QDateTime>
#include <QDir>
#include <cstdlib>

namespace korvinet::station {

namespace {

constexpr std::int8_t kCpmUnit = 1;

QString IsoLocalTime(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           FormatC("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

} // namespace

QString ReadingLine(const SessionReading& reading) {
    const bool overrange = reading.status == SessionReading::Status::Overrange;
    QStringList fields = {
        IsoLocalTime(QtFromDateTime(reading.time)), reading.text, reading.unitName,
        overrange ? reading.text : TCounter::FormatValueOf(reading.cpm, kCpmUnit),
        QString::number(reading.counts)};
    if (reading.alarm)
        fields << QStringLiteral("ALARM");
    return fields.join(QLatin1Char('\t'));
}

Station::Station(StationConfig config, D2xxDriver& driver, const Clock& clock,
                 const Regional& regional, Finished finished)
    : config_(std::move(config)), clock_(clock), regional_(regional),
      finished_(std::move(finished)), counter_(driver, clock), session_(counter_, clock),
      lock_(config_.journalFolder) {
    sampleTimer_.setInterval(config_.sampleMs);
    sampleTimer_.setTimerType(Qt::PreciseTimer);
    searchTimer_.setInterval(config_.searchMs);
    QObject::connect(&sampleTimer_, &QTimer::timeout, [this] { Sample(); });
    QObject::connect(&searchTimer_, &QTimer::timeout, [this] { Search(); });
}

Station::~Station() {
    if (journalSink_)
        session_.RemoveSink(*journalSink_);
}

void Station::Log(const QString& line) const {
    std::fprintf(stderr, "korvinet-station: %s\n", qPrintable(line));
    std::fflush(stderr);
}

MeasurementSession::AlarmSettings Station::Alarm() const {
    MeasurementSession::AlarmSettings alarm;
    alarm.enabled = config_.options.alarmLevel.has_value();
    alarm.level = config_.options.alarmLevel.value_or(1.0);
    alarm.buzzer = false; // no one to hear it
    alarm.rule = MeasurementSession::Rule::Level;
    alarm.countsStoppedWarning = config_.stored.WarnCountsStopped;
    return alarm;
}

bool Station::Start(QString* error) {
    const QString folder = config_.journalFolder;
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot use the journal folder \"%1\"").arg(folder);
        return false;
    }
    if (!lock_.TryLock(error))
        return false;

    journal_ = std::make_unique<RecordingJournal>(folder, regional_);
    journal_->SetKeepDays(config_.stored.RecordingKeepDays);
    const double now = clock_.Now();
    const JournalStatus started = journal_->Start(now, now);
    if (!started.ok)
        Log(QStringLiteral("journal: ") + started.text);
    const auto header = [this] {
        JournalFileHeader h;
        h.device = counter_.Info().Model;
        h.averagingTime = CountTimeEntries().value(config_.stored.AveragingTimeIndex);
        h.title = config_.stored.GraphTitle;
        h.notes = config_.stored.GraphNotes;
        return h;
    };
    journalSink_ = std::make_unique<JournalSink>(*journal_, header, [this](const JournalStatus& s) {
        Log(s.ok ? QStringLiteral("journal: recording again")
                 : QStringLiteral("journal: ") + s.text);
    });
    session_.AddSink(*journalSink_);

    if (config_.uploads) {
        // Uploads read what the journal recorded, so a gap (the network, the
        // service or this station away) is filled from it afterwards.
        net::UploadContext context;
        context.readSamples = JournalSamples(folder);
        context.cursorFolder = folder + QStringLiteral("/uploads");
        context.timeScale = config_.sampleMs / 3000.0;
        context.log = [this](const QString& line) { Log(line); };
        uploads_ = std::make_unique<net::MapUploads>(*config_.uploads, context);
        uploads_->Start();
    }

    Search();
    return true;
}

void Station::Search() {
    if (stopping_)
        return;
    const int found = counter_.ListDevices();
    int chosen = -1;
    const QString wanted = !serial_.isEmpty() ? serial_ : config_.options.device;
    if (!wanted.isEmpty()) {
        for (int i = 0; i < found; ++i)
            if (counter_.DeviceIdentities().at(i).SerialNumber == wanted)
                chosen = i;
    } else if (found == 1) {
        chosen = 0;
    } else if (found > 1) {
        QStringList serials;
        for (int i = 0; i < found; ++i)
            serials << counter_.DeviceIdentities().at(i).SerialNumber;
        Log(QStringLiteral("%1 counters are attached (%2): choose one with --device SERIAL")
                .arg(found)
                .arg(serials.join(QStringLiteral(", "))));
        Stop(1);
        return;
    }

    if (chosen >= 0 && Connect(chosen)) {
        searchTimer_.stop();
        waitingLogged_ = false;
        sampleTimer_.start();
        return;
    }
    if (stopping_)
        return;
    if (!waitingLogged_) {
        const QString what = wanted.isEmpty()
                                 ? QStringLiteral("no counter is attached")
                                 : QStringLiteral("counter %1 is not attached").arg(wanted);
        Log(QStringLiteral("%1; looking again every %2 s")
                .arg(what)
                .arg(config_.searchMs / 1000.0));
        waitingLogged_ = true;
    }
    if (!searchTimer_.isActive())
        searchTimer_.start();
}

bool Station::Connect(int listIndex) {
    bool isNumber = false;
    const uint index = counter_.DeviceIndices().value(listIndex).toUInt(&isNumber);
    if (!isNumber || !counter_.Open(index)) {
        Log(QStringLiteral("cannot open the counter: ") + counter_.LastError());
        return false;
    }
    // As the window sets up a counter it connects to.
    counter_.SetBeep(config_.stored.BeepEnabled);
    const int unit = config_.options.unitCode.value_or(config_.stored.UnitsIndex);
    counter_.SetUnitCode(static_cast<std::uint8_t>(unit));
    if (counter_.IsOpen() && !counter_.ResetCounter()) {
        Log(QStringLiteral("cannot reset the counter: ") + counter_.LastError());
        counter_.Close();
        return false;
    }
    counter_.SetAveragingWindow(
        AveragingWindowFor(CountTimeEntries().value(config_.stored.AveragingTimeIndex)));
    if (!counter_.IsOpen()) {
        Log(QStringLiteral("the counter closed: ") + counter_.LastError());
        return false;
    }
    session_.CounterConnected();
    if (uploads_)
        uploads_->SetConversion(RateConversion::Of(counter_));

    const TCounter::_Info& info = counter_.Info();
    const bool first = serial_.isEmpty();
    serial_ = info.SerialNumber;
    Log(QStringLiteral("%1 counter %2 (%3), %4, averaging %5")
            .arg(first ? QStringLiteral("logging") : QStringLiteral("back:"), serial_, info.Model,
                 counter_.UnitName(), CountTimeEntries().value(config_.stored.AveragingTimeIndex)));
    if (first && config_.options.mqtt && !StartPublishing()) {
        Stop(1);
        return false;
    }
    return true;
}

void Station::Sample() {
    const MeasurementSession::TickOutcome tick = session_.Tick(Alarm());
    const SessionReading& reading = tick.reading;
    if (reading.status == SessionReading::Status::Failed) {
        CounterLost(reading.error);
        return;
    }
    std::fprintf(stdout, "%s\n", ReadingLine(reading).toUtf8().constData());
    std::fflush(stdout);
    Publish(reading);
    if (tick.alarm.showWarning)
        Log(tick.warningText);
    if (tick.showCountsStopped)
        Log(tick.countsStoppedText);
    ++readings_;
    if (config_.options.count && readings_ >= *config_.options.count) {
        Stop(0);
        return;
    }
    // The session closed the counter: an overrange sample cannot be trusted.
    if (!counter_.IsOpen())
        CounterLost(reading.error);
}

void Station::CounterLost(const QString& why) {
    sampleTimer_.stop();
    Log(QStringLiteral("counter %1: %2; readings pause until it is back, looking every %3 s")
            .arg(serial_, why.isEmpty() ? QStringLiteral("closed") : why)
            .arg(config_.searchMs / 1000.0));
    waitingLogged_ = true;
    searchTimer_.start();
}

bool Station::StartPublishing() {
    const QString level = net::TopicLevel(serial_);
    outbox_ =
        std::make_unique<DiskOutbox>(config_.journalFolder + QStringLiteral("/mqtt/") + level);
    QString why;
    if (!outbox_->Open(&why)) {
        Log(QStringLiteral("outbox: ") + why);
        return false;
    }
    net::MqttPublisherOptions options;
    options.url = *config_.options.mqtt;
    options.password = config_.password;
    options.clientId = QStringLiteral("korvinet-station-") + level;
    options.topics = net::TopicsFor(config_.options.topicPrefix, serial_);
    options.announcements =
        net::DiscoveryMessages(options.topics, {serial_, counter_.Info().Model,
                                                net::OwnVersionText(), counter_.UnitCode()});

    net::MqttPublisher::Callbacks callbacks;
    callbacks.acknowledged = [this](std::uint64_t seq) { outbox_->Acknowledge(seq); };
    callbacks.log = [this](const QString& line) { Log(line); };
    callbacks.failed = [this](const QString& message) {
        Log(message);
        // Not from inside the publisher's callback: it is destroyed later.
        QTimer::singleShot(0, [this] { Stop(1); });
    };
    callbacks.stopped = [this] { QTimer::singleShot(0, [this] { Finish(); }); };
    Log(QStringLiteral("publishing to %1 under %2 (%3 readings waiting)")
            .arg(options.url.Display(), options.topics.reading)
            .arg(outbox_->LastSeq() - outbox_->AcknowledgedSeq()));
    publisher_ = std::make_unique<net::MqttPublisher>(options, *outbox_, callbacks);
    if (!publisher_->Start(outbox_->AcknowledgedSeq())) {
        Log(QStringLiteral("MQTT: ") + publisher_->LastError());
        return false;
    }
    return true;
}

void Station::Publish(const SessionReading& reading) {
    if (!outbox_)
        return;
    net::MqttReading r;
    r.seq = outbox_->LastSeq() + 1;
    r.time = QtFromDateTime(reading.time);
    r.value = reading.value;
    r.unitCode = reading.unitCode;
    r.cpm = reading.cpm;
    r.counts = reading.counts;
    r.intervalMs = reading.intervalMs;
    r.alarm = reading.alarm;
    if (reading.countsStopped)
        r.fault = QStringLiteral("no counts for %1 seconds").arg(qint64(reading.silentSeconds));
    if (reading.band) {
        r.ciLow = reading.band->low.value;
        r.ciHigh = reading.band->high.value;
    }
    QString why;
    if (!outbox_->Add(r, &why)) {
        if (!outboxFailing_)
            Log(QStringLiteral("outbox: ") + why +
                QStringLiteral("; this reading is not published"));
        outboxFailing_ = true;
        return;
    }
    if (outboxFailing_)
        Log(QStringLiteral("outbox: writing again"));
    outboxFailing_ = false;
    if (publisher_)
        publisher_->ReadingsAdded();
}

void Station::Stop(int exitCode) {
    if (stopping_) {
        // Asked again (a second signal): no more waiting for the broker.
        Finish();
        return;
    }
    stopping_ = true;
    exitCode_ = exitCode;
    sampleTimer_.stop();
    searchTimer_.stop();
    uploads_.reset(); // what is not confirmed goes after the next start
    if (counter_.IsOpen())
        counter_.Close();
    if (journal_) {
        const JournalStatus closed = journal_->Close();
        if (!closed.ok)
            Log(QStringLiteral("journal: ") + closed.text);
    }
    if (publisher_ && publisher_->CurrentState() != net::MqttPublisher::State::Failed &&
        publisher_->CurrentState() != net::MqttPublisher::State::Stopped) {
        publisher_->Stop(); // Finish() follows from its stopped callback
        return;
    }
    QTimer::singleShot(0, [this] { Finish(); });
}

void Station::Finish() {
    if (finishedCalled_)
        return;
    finishedCalled_ = true;
    if (outbox_) {
        QString why;
        if (!outbox_->Flush(&why))
            Log(QStringLiteral("outbox: ") + why);
    }
    lock_.Unlock();
    if (finished_)
        finished_(exitCode_);
}

} // namespace korvinet::station
