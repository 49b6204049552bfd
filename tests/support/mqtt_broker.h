#pragma once

#include "support/wait_events.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace korvinet::testing {

// The reading numbers first..last, as a consumer should receive them.
inline std::vector<std::uint64_t> Range(std::uint64_t first, std::uint64_t last) {
    std::vector<std::uint64_t> seqs;
    for (std::uint64_t s = first; s <= last; ++s)
        seqs.push_back(s);
    return seqs;
}

// A mosquitto broker on 127.0.0.1 for one test: a random free port, its
// configuration written here (no persistence, so a restart forgets retained
// messages and sessions), anonymous or with one user, plain or TLS with a
// certificate for "localhost" made by openssl (or one that has expired, or
// one for another host).
class MosquittoBroker {
public:
    enum class Certificate { ForLocalhost, Expired, ForAnotherHost };
    struct Config {
        QString user; // empty: anonymous clients are allowed
        QString password;
        bool tls = false;
        bool clientCertificates = false; // with tls: a certificate the CA signed is required
        int maxQueuedMessages = 0;       // for each client; 0: mosquitto's default
        Certificate certificate = Certificate::ForLocalhost;
    };

    MosquittoBroker();
    explicit MosquittoBroker(Config config);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts (again) on the same port; true once it accepts connections.
    bool Start();
    // Stops answering without closing anything (a stalled network), until killed.
    void Freeze();
    void Kill();
    // New users or TLS for the next start.
    bool Reconfigure(Config config);
    void Stop();

    int Port() const { return port_; }
    // The certificate authority that signed the TLS broker's certificate.
    QString CaFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }
    // A client certificate and its key the CA signed.
    QString ClientCertFile() const { return dir_.filePath(QStringLiteral("client.crt")); }
    QString ClientKeyFile() const { return dir_.filePath(QStringLiteral("client.key")); }
    // A client certificate and its key signed by an authority the broker does not know.
    QString StrangerCertFile() const { return dir_.filePath(QStringLiteral("stranger.crt")); }
    QString StrangerKeyFile() const { return dir_.filePath(QStringLiteral("stranger.key")); }
    QString Output() const { return output_; }

private:
    bool WriteConfig();
    bool MakeCertificates();

    Config config_;
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    bool configured_ = false;
    QString output_;
};

// A subscriber to "#" on the broker, on its own thread (the library's), so
// it is independent of the code under test; it reconnects and subscribes
// again when the broker returns.
class MqttSubscriber {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained;
        std::chrono::steady_clock::time_point arrived;
    };

    // With a client id, the session is persistent: the broker queues for it.
    explicit MqttSubscriber(int port, const QString& topicFilter = QStringLiteral("#"),
                            const QString& clientId = {});
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    // Waits (dispatching Qt events) until subscribed.
    bool WaitSubscribed(int timeoutMs = 5000);
    std::vector<Message> Messages() const;
    std::vector<Message> MessagesOn(const QString& topic) const;
    // Publishes from the subscriber's connection (not retained).
    void Publish(const QString& topic, const QByteArray& payload);
    void Clear();

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnSubscribe(mosquitto*, void* self, int, int, const int*);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    QByteArray filter_;
    mosquitto* mosq_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    int subscriptions_ = 0;
};

// What the broker holds retained on a topic (filter), as a client that
// subscribes now receives it; empty when it cannot subscribe.
QByteArrayList RetainedOn(int port, const QString& topic);

} // namespace korvinet::testing
