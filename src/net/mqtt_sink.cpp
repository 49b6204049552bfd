#include "net/mqtt_sink.h"

#include "net/mqtt_outbox.h"
#include "net/mqtt_payload.h"
#include "platform/datetime.h"
#include "platform/version.h"

#include <QTimer>

namespace korvinet::net {

MqttSink::MqttSink(MqttSinkOptions options, Log log, Failed failed)
    : options_(std::move(options)), log_(std::move(log)), failed_(std::move(failed)) {}

MqttSink::~MqttSink() = default;

void MqttSink::OnCounter(const CounterEvent& event) {
    if (event.kind == CounterEvent::Kind::Connected && !started_)
        Start(event);
}

void MqttSink::Start(const CounterEvent& event) {
    started_ = true;
    const QString level = TopicLevel(event.serial);
    outbox_ = std::make_unique<DiskOutbox>(options_.outboxRoot + QLatin1Char('/') + level);
    QString why;
    if (!outbox_->Open(&why)) {
        log_(QStringLiteral("outbox: ") + why);
        outbox_.reset();
        failed_();
        return;
    }
    MqttPublisherOptions options;
    options.url = options_.url;
    options.password = options_.password;
    options.caFile = options_.caFile;
    options.clientId = QStringLiteral("korvinet-station-") + level;
    options.topics = TopicsFor(options_.topicPrefix, event.serial);
    options.announcements = DiscoveryMessages(
        options.topics, {event.serial, event.model, OwnVersionText(), event.unitCode});

    MqttPublisher::Callbacks callbacks;
    callbacks.acknowledged = [this](std::uint64_t seq) { outbox_->Acknowledge(seq); };
    callbacks.log = log_;
    callbacks.failed = [this](const QString& message) {
        log_(message);
        // Not from inside the publisher's callback: it is destroyed later.
        QTimer::singleShot(0, [failed = failed_] { failed(); });
    };
    callbacks.stopped = [this] { QTimer::singleShot(0, [this] { Finished(); }); };
    log_(QStringLiteral("publishing to %1 under %2 (%3 readings waiting)")
             .arg(options.url.Display(), options.topics.reading)
             .arg(outbox_->LastSeq() - outbox_->AcknowledgedSeq()));
    publisher_ = std::make_unique<MqttPublisher>(options, *outbox_, callbacks);
    if (!publisher_->Start(outbox_->AcknowledgedSeq())) {
        log_(QStringLiteral("MQTT: ") + publisher_->LastError());
        failed_();
    }
}

void MqttSink::OnReading(const SessionReading& reading) {
    if (!outbox_ || reading.status == SessionReading::Status::Failed)
        return;
    MqttReading r;
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
            log_(QStringLiteral("outbox: ") + why +
                 QStringLiteral("; this reading is not published"));
        outboxFailing_ = true;
        return;
    }
    if (outboxFailing_)
        log_(QStringLiteral("outbox: writing again"));
    outboxFailing_ = false;
    if (publisher_)
        publisher_->ReadingsAdded();
}

void MqttSink::Stop(const std::function<void()>& done) {
    stopped_ = done;
    if (publisher_ && publisher_->CurrentState() != MqttPublisher::State::Failed &&
        publisher_->CurrentState() != MqttPublisher::State::Stopped) {
        publisher_->Stop(); // Finished() follows from its stopped callback
        return;
    }
    Finished();
}

void MqttSink::Finished() {
    if (outbox_) {
        QString why;
        if (!outbox_->Flush(&why))
            log_(QStringLiteral("outbox: ") + why);
    }
    if (stopped_) {
        const std::function<void()> done = std::move(stopped_);
        stopped_ = nullptr;
        done();
    }
}

MqttPublisher::State MqttSink::LinkState() const {
    return publisher_ ? publisher_->CurrentState() : MqttPublisher::State::Idle;
}

std::uint64_t MqttSink::Waiting() const {
    return outbox_ ? outbox_->LastSeq() - outbox_->AcknowledgedSeq() : 0;
}

} // namespace korvinet::net
