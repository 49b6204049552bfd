#pragma once

#include "mqtt/mqtt_payload.h"
#include "mqtt/mqtt_url.h"
#include "platform/host_resolver.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace korvinet::mqtt {

class PendingSource;

struct MqttPublisherOptions {
    MqttUrl url;
    QString password; // with url.user; never logged
    QString clientId; // empty: the library makes one up
    MqttTopics topics;
    // Published (retained) after "online" on every connection, so a broker
    // that lost its retained messages gets them again: the discovery configs.
    std::vector<MqttMessage> announcements;
    // mqtts: trust the certificates in this file instead of the system's,
    // and log in with this client certificate and its key (not encrypted).
    QString caFile;
    QString certFile;
    QString keyFile;
    // "online" published here (Home Assistant starting) has the
    // announcements and the retained messages sent again; empty: none.
    QString rediscoveryTopic;
    // Retained topics emptied at the first connection, before the
    // announcements: what an earlier run left there may not fit them (the
    // latest reading in another unit beside a config in this one). A message
    // set on one before that connection waits for the next SetRetained(), so
    // that it never comes right behind announcements a consumer is still
    // working on.
    QStringList clearedFirst;

    int keepAliveSeconds = 30;
    // Readings handed to the broker and not yet acknowledged, at most.
    int maxInFlight = 100;
    // Readings sent per second at most: the broker acknowledges a reading
    // when it has it, not when its subscribers do, and a backlog sent at
    // once overruns the queue a broker keeps for a slow subscriber. 0: no
    // limit.
    double replayRate = 200;
    // Waits between connection attempts: the first, doubled after each
    // failure up to the longest.
    int firstRetryMs = 1000;
    int maxRetryMs = 30000;
    // An attempt (name lookup, connection, login) that takes longer is given up.
    int attemptTimeoutMs = 10000;
    // How long a clean stop waits for the broker to take the "offline".
    int stopTimeoutMs = 3000;
};

// Publishes readings to an MQTT broker with QoS 1, on the caller's thread:
// the connection is driven by socket notifiers and timers of the Qt event
// loop, and every callback runs from it. A host name is looked up in the
// background first, so an unreachable name server does not stall the
// caller's timers (with TLS the library looks the name up once more, right
// after, because it checks the certificate against the name).
//
// While connected it holds a retained "online" on the status topic (with a
// retained "offline" as its last will), the announcements and the retained
// messages the owner set, and sends the readings the pending source has
// after the last acknowledged one, oldest first, at most maxInFlight at a
// time and replayRate a second. A reading that cannot go the moment it is
// added (a backlog, a reading sent again) is marked replayed. Acknowledgements
// are reported in seq order, so the owner can remember the last one and start
// there next time. A lost connection is tried again after a growing wait
// (from the shortest again after every connection); unacknowledged readings
// are sent again after reconnecting (a consumer may see a seq twice, never a
// gap).
//
// A broker that refuses the login before any connection has succeeded ends
// the publisher (Failed); a refusal later is logged and tried again.
class MqttPublisher {
public:
    enum class State { Idle, Connecting, Connected, Waiting, Stopping, Stopped, Failed };
    // How the link's state is shown: "connected", "waiting to connect again"...
    static QString StateText(State state);

    struct Callbacks {
        // The broker has the reading with this seq; called in increasing order.
        std::function<void(std::uint64_t seq)> acknowledged;
        // A line for the operator: connected, connection lost, next attempt.
        std::function<void(const QString& line)> log;
        // The publisher gave up (refused login); one line for the operator.
        std::function<void(const QString& message)> failed;
        // A Stop() has finished.
        std::function<void()> stopped;
    };

    // Lookups go through the resolver given, or through the system's. The
    // source must outlive the publisher. Do not destroy the publisher from
    // inside one of its callbacks.
    MqttPublisher(MqttPublisherOptions options, PendingSource& source, Callbacks callbacks,
                  std::unique_ptr<platform::HostResolver> resolver = nullptr);
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;
    // Drops the connection without a word: the broker publishes the last will.
    ~MqttPublisher();

    // Starts connecting; readings with a seq above lastAcknowledgedSeq are
    // sent once connected. False (with the reason in LastError()) when the
    // options cannot work.
    [[nodiscard]] bool Start(std::uint64_t lastAcknowledgedSeq);
    // The source has a new reading, taken now: it goes out at once, unless
    // older ones are still waiting.
    void ReadingAdded(std::uint64_t seq);
    // Readings older than the live one were added after it (a counter's
    // memory filling a gap): they go out as a backlog, marked replayed.
    void BacklogAdded();
    // A retained message the broker is to hold while this publisher runs
    // (the latest reading, the counter's availability): sent now when
    // connected, and on every connection.
    void SetRetained(const QString& topic, const QByteArray& payload);
    // Replaces the announcements, sending them now when connected.
    void SetAnnouncements(std::vector<MqttMessage> announcements);
    // Publishes "offline", waits for the broker to take it (at most
    // stopTimeoutMs) and disconnects; stopped() follows, also when there was
    // no connection. With `forget`, the status and the retained messages are
    // cleared from the broker instead: nothing is left under these topics.
    void Stop(bool forget = false);

    State CurrentState() const { return state_; }
    int InFlight() const { return static_cast<int>(inFlight_.size()); }
    const QString& LastError() const { return lastError_; }

private:
    struct Sent {
        std::uint64_t seq;
        int mid;
        bool acknowledged;
    };
    struct Event {
        enum Kind { Connack, Disconnect, Published, Rediscover } kind;
        int value;
    };

    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    void BeginAttempt();
    void PollLookup();
    void ConnectTo(const QByteArray& host);
    bool ConfigureClient();
    void DestroyClient();
    // After every call into the library: handles what its callbacks noted
    // and notices a closed connection.
    void AfterCall(int rc, int savedErrno);
    void HandleConnected();
    void HandlePublished(int mid);
    bool Connected() const;
    int Publish(const QString& topic, const QByteArray& payload, bool retain);
    void Announce();
    void ConnectionEnded(const QString& reason);
    void AttemptFailed(const QString& reason);
    void RetryLater(const QString& what);
    // Hands the broker what the pace and the room in flight allow; unpaced:
    // as much as may be in flight, whatever the pace.
    void Pump(bool unpaced = false);
    void RefillBudget();
    void UpdateWriteNotifier();
    void FinishStop();
    QString Describe(int rc, int savedErrno) const;
    // What a connection closed before the broker answered may mean.
    QString SchemeHint(int rc, int savedErrno) const;
    void Log(const QString& line) const;

    MqttPublisherOptions options_;
    PendingSource& source_;
    Callbacks callbacks_;
    std::unique_ptr<platform::HostResolver> resolver_;
    std::unique_ptr<platform::HostLookup> lookup_;

    State state_ = State::Idle;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    QTimer miscTimer_;    // keep-alive and retries inside the library
    QTimer lookupTimer_;  // polls a name lookup
    QTimer attemptTimer_; // bounds one attempt
    QTimer retryTimer_;   // next attempt
    QTimer stopTimer_;    // bounds a clean stop
    QTimer paceTimer_;    // the next reading the pace allows
    QElapsedTimer paceClock_;
    double budget_ = 0; // readings that may go now at the pace

    std::vector<Event> events_;
    std::deque<Sent> inFlight_;
    std::vector<MqttMessage> retained_;
    QStringList heldBack_; // retained topics not to be sent before they are set again
    std::uint64_t ackedSeq_ = 0;
    std::uint64_t sentSeq_ = 0;
    std::uint64_t liveSeq_ = 0; // the reading being added, while it may go live
    bool sourceDrained_ = false;
    bool everConnected_ = false;
    bool connectionOpen_ = false; // CONNACK accepted on the current client
    int refusal_ = 0;             // CONNACK code of a refusal on the current client
    int offlineMid_ = -1;
    int retryDelayMs_ = 0;
    QString lastLibraryError_;
    QString tlsFailure_; // why this attempt's TLS failed, where that is known
    QString lastError_;
};

} // namespace korvinet::mqtt
