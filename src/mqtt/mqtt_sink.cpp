#include "mqtt/mqtt_sink.h"

#include "mqtt/mqtt_outbox.h"
#include "mqtt/mqtt_payload.h"
#include "platform/datetime.h"
#include "platform/file_replace.h"
#include "platform/version.h"

#include <QFile>
#include <QSysInfo>
#include <QTimer>
#include <cmath>

namespace korvinet::mqtt {

namespace {

// Entities expire when the state has not changed for this many sample
// periods: a reading or two may be late, a silent station may not.
constexpr int kExpirePeriods = 4;

// The counter published last, in the outbox root beside the counters'
// folders; a topic level never holds a blank, so no counter's folder has
// this name.
const QString kMemoryFile = QStringLiteral("/last counter");

// The station's own level has no readings to send.
class NoReadings final : public PendingSource {
public:
    std::vector<MqttReading> ReadingsAfter(std::uint64_t, int) override { return {}; }
};

NoReadings noReadings;

} // namespace

struct MqttSink::Channel {
    QString serial; // empty: the station's own level
    QString model;
    MqttTopics topics;
    std::unique_ptr<DiskOutbox> outbox;
    std::unique_ptr<MqttPublisher> publisher;
    std::uint64_t totalCounts = 0;
};

MqttSink::MqttSink(MqttSinkOptions options, Log log, Failed failed)
    : options_(std::move(options)), log_(std::move(log)), failed_(std::move(failed)) {
    if (options_.topicPrefix.isEmpty())
        options_.topicPrefix = kDefaultTopicPrefix;
    if (options_.discoveryPrefix.isEmpty())
        options_.discoveryPrefix = kDefaultDiscoveryPrefix;
    if (options_.stationLevel.isEmpty())
        options_.stationLevel = QStringLiteral("station-") + QSysInfo::machineHostName();
}

MqttSink::~MqttSink() = default;

bool MqttSink::Start(QString* error) {
    QString serial = options_.device;
    QString model;
    QString remembered;
    // The counter published last: its entities say at once that it is
    // absent, and its waiting readings go out, before it is back.
    platform::RemoveLeftoverReplacements(options_.outboxRoot + kMemoryFile);
    QFile memory(options_.outboxRoot + kMemoryFile);
    if (memory.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(memory.readAll()).split(QLatin1Char('\n'));
        remembered = lines.value(0).trimmed();
        if (serial.isEmpty())
            serial = remembered;
        if (serial == remembered)
            model = lines.value(1).trimmed();
    }
    if (serial.isEmpty()) {
        // A counter found at once names the topics; only when none is there
        // does the station speak under its own level.
        QTimer::singleShot(0, &context_, [this] {
            QString why;
            if (!channel_ && !stopping_ && !Open({}, {}, &why)) {
                log_(why);
                failed_(Failure::Fault);
            }
        });
        return true;
    }
    // The journal holds this counter's readings last only when it was the
    // one published last.
    if (!Open(serial, model, error, serial == remembered))
        return false;
    SetCounterState(kCounterAbsent);
    return true;
}

bool MqttSink::Open(const QString& serial, const QString& model, QString* error, bool catchUp) {
    auto channel = std::make_unique<Channel>();
    channel->serial = serial;
    channel->model = model;
    const QString level = serial.isEmpty() ? TopicLevel(options_.stationLevel) : TopicLevel(serial);
    channel->topics = TopicsFor(options_.topicPrefix, level);
    PendingSource* source = &noReadings;
    if (!serial.isEmpty()) {
        channel->outbox =
            std::make_unique<DiskOutbox>(options_.outboxRoot + QLatin1Char('/') + level);
        QString why;
        if (!channel->outbox->Open(&why)) {
            *error = QStringLiteral("outbox: ") + why;
            return false;
        }
        if (catchUp)
            CatchUp(*channel->outbox);
        source = channel->outbox.get();
    }

    MqttPublisherOptions options;
    options.url = options_.url;
    options.password = options_.password;
    options.caFile = options_.caFile;
    options.certFile = options_.certFile;
    options.keyFile = options_.keyFile;
    options.clientId = StationClientId(options_.topicPrefix, level);
    options.topics = channel->topics;
    options.replayRate = options_.replayRate;
    options.rediscoveryTopic = HomeAssistantStatusTopic(options_.discoveryPrefix);
    // The state an earlier run left may be in another unit: Home Assistant's
    // sensor for this run's unit would take it for one of its own readings.
    if (!serial.isEmpty())
        options.clearedFirst = {channel->topics.state};
    options.announcements = Announcements(*channel);

    Channel* raw = channel.get();
    MqttPublisher::Callbacks callbacks;
    callbacks.acknowledged = [raw](std::uint64_t seq) {
        if (raw->outbox)
            raw->outbox->Acknowledge(seq);
    };
    callbacks.log = log_;
    callbacks.failed = [this](const QString& message) {
        log_(message);
        // Not from inside the publisher's callback: it is destroyed later.
        QTimer::singleShot(0, &context_, [this] { failed_(Failure::Refused); });
    };
    callbacks.stopped = [this, raw] { ChannelStopped(raw); };
    if (channel->outbox)
        log_(QStringLiteral("publishing to %1 under %2 (%3 readings waiting)")
                 .arg(options.url.Display(), options.topics.reading)
                 .arg(channel->outbox->LastSeq() - channel->outbox->AcknowledgedSeq()));
    else
        log_(QStringLiteral("publishing to %1: the station's status under %2 until a counter is "
                            "found")
                 .arg(options.url.Display(), options.topics.status));
    channel->publisher = std::make_unique<MqttPublisher>(options, *source, callbacks);
    if (!channel->publisher->Start(channel->outbox ? channel->outbox->AcknowledgedSeq() : 0)) {
        *error = QStringLiteral("MQTT: ") + channel->publisher->LastError();
        return false;
    }
    channel_ = std::move(channel);
    return true;
}

void MqttSink::CatchUp(DiskOutbox& outbox) {
    const std::optional<MqttReading> newest = outbox.NewestWritten();
    if (!options_.journal || !newest)
        return; // a new outbox: the journal's past was never for this broker
    // The journal's readings after the newest written take the seqs after
    // it; those up to LastSeq() went out from memory while the disk was full.
    const std::uint64_t queued = Queue(outbox, newest->time, newest->seq, {});
    if (queued > 0)
        log_(QStringLiteral("outbox: %1 readings from the journal that never reached the outbox "
                            "go out as well")
                 .arg(queued));
}

std::uint64_t MqttSink::Queue(DiskOutbox& outbox, const QDateTime& after, std::uint64_t seq,
                              std::optional<qint64> upToUtcMs) {
    std::uint64_t queued = 0;
    QString why;
    options_.journal(after, [&](const device::Reading& reading) {
        if (upToUtcMs && device::MomentOf(reading).toMSecsSinceEpoch() > *upToUtcMs)
            return;
        MqttReading r = MqttReadingOf(reading);
        r.seq = seq + 1;
        if (!outbox.Hold(r))
            return;
        ++seq;
        ++queued;
        if (queued % DiskOutbox::kSegmentReadings == 0)
            outbox.WriteHeld(&why);
    });
    if (queued > 0)
        outbox.WriteHeld(&why);
    return queued;
}

// A counter's memory filled the journal's gap: those readings join the
// backlog once, in time order, after whatever the outbox has, and like the
// journal's catch-up they never touch the retained state, which stays the
// latest live reading's.
void MqttSink::Backfilled(const measure::CounterEvent& event) {
    if (!channel_ || !channel_->outbox || channel_->serial != event.serial || !options_.journal)
        return;
    DiskOutbox& outbox = *channel_->outbox;
    const std::optional<MqttReading> newest = outbox.NewestWritten();
    const qint64 after =
        std::max(event.afterUtcMs, newest ? newest->time.toMSecsSinceEpoch() : event.afterUtcMs);
    const std::uint64_t queued =
        Queue(outbox, QDateTime::fromMSecsSinceEpoch(after), outbox.LastSeq(), event.lastUtcMs);
    if (queued == 0)
        return;
    log_(QStringLiteral("outbox: %1 readings from the counter's memory go out as a backlog")
             .arg(queued));
    channel_->publisher->BacklogAdded();
}

std::vector<MqttMessage> MqttSink::Announcements(const Channel& channel) const {
    if (channel.serial.isEmpty())
        return {};
    DiscoveryDevice device;
    device.serial = channel.serial;
    device.model = channel.model;
    device.softwareVersion = platform::OwnVersionText();
    device.unitCode = options_.unitCode;
    device.prefix = options_.topicPrefix;
    device.expireAfterSeconds =
        static_cast<int>(std::ceil(kExpirePeriods * options_.sampleMs / 1000.0));
    device.discoveryPrefix = options_.discoveryPrefix;
    return DiscoveryMessages(channel.topics, device);
}

void MqttSink::Retire() {
    if (!channel_)
        return;
    retiring_ = std::move(channel_);
    if (Running(retiring_.get()))
        // The station's own level is cleared: the counter's topics say it all
        // from now on. A counter's topics stay, saying "offline".
        retiring_->publisher->Stop(retiring_->serial.isEmpty());
    else
        retiring_.reset();
}

bool MqttSink::Running(const Channel* channel) const {
    if (!channel || !channel->publisher)
        return false;
    const MqttPublisher::State state = channel->publisher->CurrentState();
    return state != MqttPublisher::State::Stopped && state != MqttPublisher::State::Failed;
}

void MqttSink::ChannelStopped(Channel* channel) {
    QTimer::singleShot(0, &context_, [this, channel] {
        if (retiring_.get() == channel)
            retiring_.reset();
        if (stopping_ && !Running(channel_.get()) && !Running(retiring_.get()))
            Finished();
    });
}

void MqttSink::SetCounterState(const QByteArray& state) {
    if (channel_ && channel_->publisher && !channel_->serial.isEmpty())
        channel_->publisher->SetRetained(channel_->topics.counter, state);
}

void MqttSink::Remember(const QString& serial, const QString& model) {
    const QByteArray memory = (serial + QLatin1Char('\n') + model + QLatin1Char('\n')).toUtf8();
    const QString path = options_.outboxRoot + kMemoryFile;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly) && old.readAll() == memory)
        return;
    if (!platform::ReplaceFileContents(path, memory))
        log_(QStringLiteral("outbox: cannot write %1").arg(path));
}

void MqttSink::OnCounter(const measure::CounterEvent& event) {
    if (stopping_)
        return;
    if (event.kind == measure::CounterEvent::Kind::Backfilled) {
        Backfilled(event);
        return;
    }
    if (event.kind == measure::CounterEvent::Kind::Lost) {
        SetCounterState(kCounterAbsent);
        return;
    }
    if (!channel_ || channel_->serial != event.serial) {
        Retire();
        QString why;
        if (!Open(event.serial, event.model, &why)) {
            log_(why);
            failed_(Failure::Fault);
            return;
        }
    } else if (channel_->model != event.model) {
        channel_->model = event.model;
        channel_->publisher->SetAnnouncements(Announcements(*channel_));
    }
    Remember(event.serial, event.model);
    SetCounterState(kCounterConnected);
}

void MqttSink::OnReading(const measure::SessionReading& reading) {
    if (!channel_ || !channel_->outbox || reading.status == measure::SessionReading::Status::Failed)
        return;
    Channel& channel = *channel_;
    MqttReading r = MqttReadingOf(reading);
    r.seq = channel.outbox->LastSeq() + 1;
    if (reading.countsStopped)
        r.fault = measure::NoCountsText(reading.silentSeconds).toLower();
    r.health = measure::HealthText(reading);
    r.healthStatistic = reading.healthStatistic;

    channel.totalCounts += reading.counts;
    channel.publisher->SetRetained(channel.topics.state, StatePayload(r, channel.totalCounts));
    SetCounterState(reading.countsStopped ? kCounterStopped : kCounterConnected);

    QString why;
    const bool written = channel.outbox->Add(r, &why);
    if (!written && !outboxFailing_)
        log_(QStringLiteral("outbox: ") + why +
             QStringLiteral("; readings wait in memory until it can be written"));
    else if (written && outboxFailing_)
        log_(QStringLiteral("outbox: writing again"));
    outboxFailing_ = !written;
    const DiskOutbox::Dropped dropped = channel.outbox->DropOlderThan(
        r.time.addDays(-static_cast<qint64>(std::max(1, options_.outboxDays))));
    if (dropped.count > 0)
        log_(QStringLiteral("outbox: gave up %1 readings up to %2 that the broker has not had for "
                            "%3 days; the journal keeps them")
                 .arg(dropped.count)
                 .arg(platform::IsoLocalTimeText(dropped.newest))
                 .arg(options_.outboxDays));
    channel.publisher->ReadingAdded(r.seq);
}

void MqttSink::Stop(const std::function<void()>& done) {
    stopped_ = done;
    stopping_ = true;
    // The counter keeps its last word: "absent" would say it was unplugged.
    // "offline" on the status says that nobody is watching it now.
    if (Running(channel_.get()))
        channel_->publisher->Stop(); // Finished() follows from its stopped callback
    else if (!Running(retiring_.get()))
        Finished();
}

void MqttSink::Finished() {
    if (channel_ && channel_->outbox) {
        QString why;
        if (!channel_->outbox->Flush(&why))
            log_(QStringLiteral("outbox: ") + why);
    }
    if (stopped_) {
        const std::function<void()> done = std::move(stopped_);
        stopped_ = nullptr;
        done();
    }
}

MqttPublisher::State MqttSink::LinkState() const {
    return channel_ && channel_->publisher ? channel_->publisher->CurrentState()
                                           : MqttPublisher::State::Idle;
}

std::uint64_t MqttSink::Waiting() const {
    return channel_ && channel_->outbox
               ? channel_->outbox->LastSeq() - channel_->outbox->AcknowledgedSeq()
               : 0;
}

} // namespace korvinet::mqtt
