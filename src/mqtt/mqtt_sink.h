#pragma once

#include "measure/reading_sink.h"
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_url.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace korvinet::mqtt {

class DiskOutbox;

struct MqttSinkOptions {
    MqttUrl url;
    QString password;        // with url.user; never logged
    QString topicPrefix;     // "korvinet" when empty
    QString discoveryPrefix; // Home Assistant's; "homeassistant" when empty
    // mqtts: trust these certificates instead of the system's; log in with
    // this client certificate and key.
    QString caFile;
    QString certFile;
    QString keyFile;
    // Where the outbox of each counter lives: <outboxRoot>/<serial>/.
    QString outboxRoot;
    // The counter asked for; its serial names the topics before it is found.
    QString device;
    std::uint8_t unitCode = 2; // the display unit, for discovery before the counter is found
    int sampleMs = 3000;       // the sampling period: entities expire after a few of them
    double replayRate = 200;   // readings per second at most on the reading topic
    int outboxDays = 30;       // readings the broker has not had for longer are given up
    // The topic level the station speaks under while it knows no counter;
    // "station-<host name>" when empty.
    QString stationLevel;
    // Hands `take` the readings the journal kept after a moment, oldest
    // first. At the start the ones the outbox of the counter published last
    // does not have (a kill between the two writes, a full disk) go out from
    // there. Unset: not looked for.
    using JournalReadings = std::function<void(
        const QDateTime& after, const std::function<void(const device::Reading&)>& take)>;
    JournalReadings journal;
};

// Publishes every reading taken to an MQTT broker. Readings wait in a disk
// outbox of the counter's own, so none is lost while the broker is away,
// the program is stopped or the power fails; the publisher empties it oldest
// first, at a bounded pace. While the disk takes nothing they wait in memory,
// and still go out. The latest reading is also held retained on the
// state topic, and the counter's availability on the counter topic.
//
// The station is on the broker from the start, counter or not. Its topics
// are named by the counter's serial: the one asked for (--device), else the
// one published last (remembered in "<outboxRoot>/last counter"), else the
// station's own level until a counter is found, whose topics are then
// cleared from the broker. A different counter found later takes over: the
// one before is left "offline", its waiting readings kept for its return.
class MqttSink final : public measure::ReadingSink {
public:
    enum class Failure {
        Refused, // the broker refused the login at the first attempt: a mistake to fix
        Fault,   // the outbox cannot be kept, the publisher cannot start
    };
    using Log = std::function<void(const QString& line)>;
    // The sink gave up: the program cannot do what it was asked to.
    using Failed = std::function<void(Failure failure)>;

    MqttSink(MqttSinkOptions options, Log log, Failed failed);
    ~MqttSink() override;

    // Starts publishing. False with a one-line reason when the outbox cannot
    // be kept or the options cannot work.
    [[nodiscard]] bool Start(QString* error);

    void OnReading(const measure::SessionReading& reading) override;
    void OnCounter(const measure::CounterEvent& event) override;
    // Tells the broker "offline", waiting a little for it, and writes the
    // outbox's position. The counter's topic keeps what it said last.
    void Stop(const std::function<void()>& done) override;

    // For a status display: the link and the readings not yet acknowledged.
    MqttPublisher::State LinkState() const;
    std::uint64_t Waiting() const;

private:
    struct Channel;

    bool Open(const QString& serial, const QString& model, QString* error, bool catchUp = false);
    void CatchUp(DiskOutbox& outbox);
    // Holds and writes the journal's readings after `after` (up to the
    // moment given) with the seqs after `seq`; says how many.
    std::uint64_t Queue(DiskOutbox& outbox, const QDateTime& after, std::uint64_t seq,
                        std::optional<qint64> upToUtcMs);
    void Backfilled(const measure::CounterEvent& event);
    void Retire();
    void ChannelStopped(Channel* channel);
    bool Running(const Channel* channel) const;
    void SetCounterState(const QByteArray& state);
    std::vector<MqttMessage> Announcements(const Channel& channel) const;
    void Remember(const QString& serial, const QString& model);
    void Finished();

    MqttSinkOptions options_;
    Log log_;
    Failed failed_;
    std::unique_ptr<Channel> channel_;
    std::unique_ptr<Channel> retiring_; // a channel given up, telling the broker so
    bool outboxFailing_ = false;
    std::function<void()> stopped_;
    bool stopping_ = false;
    QObject context_; // what is left for the event loop ends with the sink
};

} // namespace korvinet::mqtt
