#pragma once

#include "measure/reading_sink.h"
#include "net/mqtt_publisher.h"
#include "net/mqtt_url.h"

#include <QString>
#include <functional>
#include <memory>

namespace korvinet::net {

class DiskOutbox;

struct MqttSinkOptions {
    MqttUrl url;
    QString password;    // with url.user; never logged
    QString topicPrefix; // "korvinet" when empty
    QString caFile;      // mqtts: trust these certificates instead of the system's
    // Where the outbox of each counter lives: <outboxRoot>/<serial>/.
    QString outboxRoot;
};

// Publishes every reading taken to an MQTT broker. Readings wait in a disk
// outbox of the counter's own, so none is lost while the broker is away,
// the program is stopped or the power fails; the publisher empties it oldest
// first. Publishing starts when the first counter is found (its serial names
// the topics and the outbox).
class MqttSink final : public ReadingSink {
public:
    using Log = std::function<void(const QString& line)>;
    // The sink gave up (the outbox cannot be kept, the broker refused the
    // login): the program cannot do what it was asked to.
    using Failed = std::function<void()>;

    MqttSink(MqttSinkOptions options, Log log, Failed failed);
    ~MqttSink() override;

    void OnReading(const SessionReading& reading) override;
    void OnCounter(const CounterEvent& event) override;
    // Tells the broker "offline" (waiting a little for it) and writes the
    // outbox's position.
    void Stop(const std::function<void()>& done) override;

    // For a status display: the link and the readings not yet acknowledged.
    MqttPublisher::State LinkState() const;
    std::uint64_t Waiting() const;

private:
    void Start(const CounterEvent& event);
    void Finished();

    MqttSinkOptions options_;
    Log log_;
    Failed failed_;
    std::unique_ptr<DiskOutbox> outbox_;
    std::unique_ptr<MqttPublisher> publisher_;
    bool outboxFailing_ = false;
    bool started_ = false;
    std::function<void()> stopped_;
};

} // namespace korvinet::net
