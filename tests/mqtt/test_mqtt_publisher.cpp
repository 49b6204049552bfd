#include "memory_outbox.h"
#include "mqtt/mqtt_outbox.h"
#include "mqtt/mqtt_publisher.h"
#include "mqtt/mqtt_sink.h"
#include "platform/datetime.h"
#include "support/file_size_limit.h"
#include "support/mqtt_broker.h"
#include "support/script_server.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace korvinet::mqtt {
namespace {

using korvinet::testing::MosquittoBroker;
using korvinet::testing::MqttSubscriber;
using korvinet::testing::Range;
using korvinet::testing::RunEventsFor;
using korvinet::testing::ScriptServer;
using korvinet::testing::WaitUntil;

const QString kSerial = QStringLiteral("KV0042");

// A publisher with an in-memory outbox and everything it reports collected.
struct Station {
    explicit Station(int port, const QString& user = {}, const QString& password = {}) {
        options.url.host = QStringLiteral("127.0.0.1");
        options.url.port = port;
        options.url.user = user;
        options.password = password;
        options.clientId = QStringLiteral("korvinet-test-") + kSerial;
        options.topics = TopicsFor(QStringLiteral("korvinet"), kSerial);
        options.announcements = DiscoveryMessages(options.topics, {kSerial, {}, {}, 2});
        callbacks.acknowledged = [this](std::uint64_t seq) {
            acknowledged.push_back(seq);
            outbox.DropThrough(seq);
            maxInFlightSeen = std::max(maxInFlightSeen, publisher ? publisher->InFlight() : 0);
        };
        callbacks.log = [this](const QString& line) { log.append(line); };
        callbacks.failed = [this](const QString& message) { failure = message; };
        callbacks.stopped = [this] { stopped = true; };
    }

    void Begin(std::uint64_t lastAcknowledged = 0) {
        publisher = std::make_unique<MqttPublisher>(options, outbox, callbacks);
        ASSERT_TRUE(publisher->Start(lastAcknowledged)) << publisher->LastError().toStdString();
    }

    void Add() {
        MqttReading reading;
        reading.seq = ++lastSeq;
        reading.time = QDateTime::currentDateTime();
        reading.value = 0.001 * static_cast<double>(reading.seq);
        reading.counts = static_cast<std::uint32_t>(reading.seq % 7);
        reading.intervalMs = 3000;
        outbox.Add(reading);
        if (publisher) {
            publisher->ReadingAdded(reading.seq);
            maxInFlightSeen = std::max(maxInFlightSeen, publisher->InFlight());
        }
    }

    bool AllAcknowledged(int timeoutMs) {
        return WaitUntil([this] { return !acknowledged.empty() && acknowledged.back() == lastSeq; },
                         timeoutMs);
    }

    MqttPublisherOptions options;
    MqttPublisher::Callbacks callbacks;
    testing::MemoryOutbox outbox;
    std::unique_ptr<MqttPublisher> publisher;
    std::uint64_t lastSeq = 0;
    std::vector<std::uint64_t> acknowledged;
    int maxInFlightSeen = 0;
    QStringList log;
    QString failure;
    bool stopped = false;
};

// The seq of every reading the subscriber got, in arrival order; each
// payload must be a JSON object with the reading's fields.
std::vector<std::uint64_t> ReceivedSeqs(const MqttSubscriber& subscriber, const QString& topic) {
    std::vector<std::uint64_t> seqs;
    for (const auto& m : subscriber.MessagesOn(topic)) {
        QJsonParseError error{};
        const QJsonObject json = QJsonDocument::fromJson(m.payload, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << m.payload.toStdString();
        EXPECT_TRUE(json.contains(QStringLiteral("time")) &&
                    json.contains(QStringLiteral("value")) &&
                    json.contains(QStringLiteral("interval_ms")))
            << m.payload.toStdString();
        EXPECT_FALSE(m.retained);
        seqs.push_back(static_cast<std::uint64_t>(json[QStringLiteral("seq")].toInteger()));
    }
    return seqs;
}

// What a client that connects now is handed as retained on the topic.
QByteArrayList RetainedOn(int port, const QString& topic) {
    MqttSubscriber late(port, topic);
    EXPECT_TRUE(late.WaitSubscribed());
    RunEventsFor(200); // retained messages come right after SUBACK
    QByteArrayList payloads;
    for (const auto& m : late.Messages()) {
        EXPECT_TRUE(m.retained) << topic.toStdString();
        payloads.append(m.payload);
    }
    return payloads;
}

TEST(MqttPublisherTest, PublishesReadingsInOrderWithRetainedStatusAndDiscovery) {
    MosquittoBroker broker;
    ASSERT_GT(broker.Port(), 0);
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());

    Station station(broker.Port());
    station.Add(); // taken before the connection: waits in the outbox
    station.Begin();
    for (int i = 0; i < 4; ++i) {
        station.Add();
    }
    ASSERT_TRUE(station.AllAcknowledged(5000)) << station.log.join('\n').toStdString();
    EXPECT_EQ(station.acknowledged, Range(1, 5));
    EXPECT_EQ(station.outbox.Size(), 0u);
    ASSERT_TRUE(WaitUntil(
        [&] { return subscriber.MessagesOn(station.options.topics.reading).size() >= 5; }, 2000));
    EXPECT_EQ(ReceivedSeqs(subscriber, station.options.topics.reading), Range(1, 5));
    EXPECT_EQ(station.publisher->CurrentState(), MqttPublisher::State::Connected);

    EXPECT_EQ(RetainedOn(broker.Port(), station.options.topics.status), QByteArrayList{"online"});
    for (const MqttMessage& config : station.options.announcements) {
        // An empty one clears what the broker held.
        EXPECT_EQ(RetainedOn(broker.Port(), config.topic),
                  config.payload.isEmpty() ? QByteArrayList{} : QByteArrayList{config.payload});
    }

    // A clean stop leaves "offline" behind, said by the station itself.
    station.publisher->Stop();
    ASSERT_TRUE(WaitUntil([&] { return station.stopped; }, 5000));
    EXPECT_EQ(station.publisher->CurrentState(), MqttPublisher::State::Stopped);
    EXPECT_EQ(RetainedOn(broker.Port(), station.options.topics.status), QByteArrayList{"offline"});
}

TEST(MqttPublisherTest, LastWillSaysOfflineWhenTheStationIsKilled) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    const MqttTopics topics = TopicsFor(QStringLiteral("korvinet"), kSerial);
    MqttSubscriber subscriber(broker.Port(), topics.status);
    ASSERT_TRUE(subscriber.WaitSubscribed());

    QProcess child;
    child.start(
        QStringLiteral(MQTT_CHILD_PUBLISHER),
        {QString::number(broker.Port()), QStringLiteral("korvinet"), kSerial, QStringLiteral("3")});
    ASSERT_TRUE(child.waitForStarted(5000));
    ASSERT_TRUE(child.waitForReadyRead(10000)) << child.readAllStandardError().toStdString();
    EXPECT_EQ(child.readLine().trimmed(), QByteArray("acknowledged 3"));
    ASSERT_TRUE(WaitUntil([&] { return !subscriber.Messages().empty(); }, 2000));
    EXPECT_EQ(subscriber.Messages().back().payload, QByteArray("online"));

    child.kill();
    child.waitForFinished(5000);
    ASSERT_TRUE(WaitUntil([&] { return subscriber.Messages().back().payload == "offline"; }, 5000));
    EXPECT_EQ(RetainedOn(broker.Port(), topics.status), QByteArrayList{"offline"});
}

TEST(MqttPublisherTest, ReadingsTakenWhileTheBrokerIsAwayArriveInOrderAfterwards) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());

    Station station(broker.Port());
    station.options.maxInFlight = 8; // fewer than the backlog: sent in windows
    station.Begin();
    for (int i = 0; i < 3; ++i) {
        station.Add();
    }
    ASSERT_TRUE(station.AllAcknowledged(5000)) << station.log.join('\n').toStdString();

    // A reading every 150 ms. The broker stalls (readings go out and stay
    // unacknowledged), then dies, and stays away for ten seconds.
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] { station.Add(); });
    sampler.start(150);
    broker.Freeze();
    RunEventsFor(1500);
    EXPECT_EQ(station.publisher->InFlight(), 8);
    broker.Kill();
    RunEventsFor(10000);
    const std::uint64_t takenMeanwhile = station.lastSeq - 3;
    EXPECT_GE(takenMeanwhile, 50u);
    EXPECT_EQ(station.acknowledged.back(), 3u);
    subscriber.Clear();
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    // The subscriber is back before the publisher's next attempt (7 s, then
    // 15 s after the loss): the broker keeps nothing for absent clients, and
    // the readings in flight at the loss must come again.
    ASSERT_TRUE(subscriber.WaitSubscribed(3000));
    ASSERT_TRUE(WaitUntil([&] { return station.acknowledged.back() > 3 + takenMeanwhile; }, 15000))
        << station.log.join('\n').toStdString();
    sampler.stop();
    ASSERT_TRUE(station.AllAcknowledged(5000));

    // Acknowledged one by one, in order; every reading arrived, none missing.
    EXPECT_EQ(station.acknowledged, Range(1, station.lastSeq));
    EXPECT_EQ(station.maxInFlightSeen, 8);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto seqs = ReceivedSeqs(subscriber, station.options.topics.reading);
            return !seqs.empty() && seqs.back() == station.lastSeq;
        },
        2000));
    std::vector<std::uint64_t> seqs = ReceivedSeqs(subscriber, station.options.topics.reading);
    // A reading in flight when the connection broke may come twice; order holds.
    seqs.erase(std::unique(seqs.begin(), seqs.end()), seqs.end());
    ASSERT_FALSE(seqs.empty());
    EXPECT_EQ(seqs, Range(seqs.front(), station.lastSeq));
    EXPECT_EQ(seqs.front(), 4u);
    EXPECT_TRUE(station.log.filter(QStringLiteral("connection to mqtt://127.0.0.1:")).size() == 1)
        << station.log.join('\n').toStdString();
}

TEST(MqttPublisherTest, WaitsGrowUpToTheLongestUntilTheBrokerAppears) {
    MosquittoBroker broker; // configured, not yet running
    broker.Stop();
    Station station(broker.Port());
    station.options.firstRetryMs = 100;
    station.options.maxRetryMs = 400;
    station.Add();
    station.Begin();
    ASSERT_TRUE(WaitUntil([&] { return station.log.size() >= 5; }, 5000));
    const QStringList waits = {QStringLiteral("0.1 s"), QStringLiteral("0.2 s"),
                               QStringLiteral("0.4 s"), QStringLiteral("0.4 s"),
                               QStringLiteral("0.4 s")};
    for (int i = 0; i < waits.size(); ++i) {
        EXPECT_TRUE(station.log[i].startsWith(QStringLiteral("MQTT: cannot connect to mqtt://")))
            << station.log[i].toStdString();
        EXPECT_TRUE(station.log[i].endsWith(QStringLiteral("trying again in ") + waits[i]))
            << station.log[i].toStdString();
    }
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    ASSERT_TRUE(station.AllAcknowledged(3000)) << station.log.join('\n').toStdString();
    // A connection starts the waits afresh: a short restart, a short gap.
    broker.Kill();
    ASSERT_TRUE(WaitUntil([&] { return station.log.last().contains("lost"); }, 3000));
    EXPECT_TRUE(station.log.last().endsWith("trying again in 0.1 s"))
        << station.log.last().toStdString();
}

// A broker that accepts the connection and drops it at once, before taking a
// message, is not hammered: the waits keep growing.
TEST(MqttPublisherTest, ABrokerThatDropsAtOnceIsWaitedForLongerEachTime) {
    ScriptServer dropper(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept(); c.recv(4096); c.sendall(bytes([0x20, 2, 0, 0])); c.close()
)")});
    ASSERT_NE(dropper.Port(), 0);
    Station station(dropper.Port());
    station.options.firstRetryMs = 100;
    station.options.maxRetryMs = 400;
    station.Add();
    station.Begin();
    ASSERT_TRUE(WaitUntil([&] { return station.log.filter("trying again").size() >= 3; }, 5000));
    const QStringList waits = station.log.filter("trying again");
    EXPECT_TRUE(waits[1].endsWith("0.2 s")) << waits.join('\n').toStdString();
    EXPECT_TRUE(waits[2].endsWith("0.4 s")) << waits.join('\n').toStdString();
}

TEST(MqttPublisherTest, RefusedLoginEndsAtFirstAndIsRetriedLater) {
    MosquittoBroker broker({QStringLiteral("station"), QStringLiteral("right-pw")});
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();

    Station wrong(broker.Port(), QStringLiteral("station"), QStringLiteral("wrong-pw"));
    wrong.Add();
    wrong.Begin();
    ASSERT_TRUE(WaitUntil([&] { return !wrong.failure.isEmpty(); }, 5000));
    EXPECT_EQ(wrong.failure, QStringLiteral("MQTT broker mqtt://station@127.0.0.1:%1 refused the "
                                            "login: not authorised")
                                 .arg(broker.Port()));
    EXPECT_EQ(wrong.publisher->CurrentState(), MqttPublisher::State::Failed);
    RunEventsFor(1500);
    EXPECT_TRUE(wrong.log.isEmpty()) << "no further attempts after a refused first login";

    Station right(broker.Port(), QStringLiteral("station"), QStringLiteral("right-pw"));
    right.Add();
    right.Begin();
    ASSERT_TRUE(right.AllAcknowledged(5000)) << right.log.join('\n').toStdString();

    // The password changes on the broker while the station is connected:
    // after the broker restarts, the refusal is logged and tried again.
    broker.Stop();
    MosquittoBroker::Config changed{QStringLiteral("station"), QStringLiteral("new-pw")};
    ASSERT_TRUE(broker.Reconfigure(changed));
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    ASSERT_TRUE(
        WaitUntil([&] { return !right.log.filter(QStringLiteral("refused")).isEmpty(); }, 5000))
        << right.log.join('\n').toStdString();
    EXPECT_TRUE(right.log.filter(QStringLiteral("refused"))
                    .first()
                    .contains(QStringLiteral("(refused: not authorised); trying again in ")));
    EXPECT_TRUE(right.failure.isEmpty());
    EXPECT_NE(right.publisher->CurrentState(), MqttPublisher::State::Failed);
    for (const QString& line : right.log + wrong.log) {
        EXPECT_FALSE(line.contains(QStringLiteral("-pw"))) << "a password is never logged";
    }
}

// Private brokers: an authority of their own, client certificates, and
// what goes wrong with them or with the scheme, each named in the log.
TEST(MqttPublisherTest, TlsWithItsOwnAuthorityAndClientCertificates) {
    using Certificate = MosquittoBroker::Certificate;
    MosquittoBroker tls({{}, {}, true, true});
    MosquittoBroker expired({{}, {}, true, true, 0, Certificate::Expired});
    MosquittoBroker elsewhere({{}, {}, true, true, 0, Certificate::ForAnotherHost});
    MosquittoBroker plain;
    for (MosquittoBroker* broker : {&tls, &expired, &elsewhere, &plain})
        ASSERT_TRUE(broker->Start()) << broker->Output().toStdString();
    const QString ca = tls.CaFile(), cert = tls.ClientCertFile(), key = tls.ClientKeyFile();
    struct Case {
        const char* what;
        int port;
        bool tls;
        QString caFile, certFile, keyFile;
        const char* logged; // empty: the reading is delivered
    };
    const Case cases[] = {
        {"own authority, client certificate", tls.Port(), true, ca, cert, key, ""},
        {"the system's authorities", tls.Port(), true, {}, cert, key, "not signed by an authority"},
        {"expired", expired.Port(), true, expired.CaFile(), cert, key, "certificate has expired"},
        {"another host's", elsewhere.Port(), true, elsewhere.CaFile(), cert, key,
         "not made out to localhost"},
        {"an unknown client certificate", tls.Port(), true, ca, tls.StrangerCertFile(),
         tls.StrangerKeyFile(), "refused this station's certificate"},
        {"no client certificate", tls.Port(), true, ca, {}, {}, "a client certificate"},
        {"mqtts:// to a plain port", plain.Port(), true, ca, {}, {}, "a plain MQTT port"},
        {"mqtt:// to a TLS port", tls.Port(), false, {}, {}, {}, "expects TLS, use mqtts://"},
    };
    for (const Case& c : cases) {
        Station station(c.port);
        station.options.url.tls = c.tls;
        station.options.url.host = QStringLiteral("localhost"); // checked in the certificate
        station.options.caFile = c.caFile;
        station.options.certFile = c.certFile;
        station.options.keyFile = c.keyFile;
        station.Add();
        station.Begin();
        if (*c.logged == '\0') {
            EXPECT_TRUE(station.AllAcknowledged(5000)) << station.log.join('\n').toStdString();
            continue;
        }
        ASSERT_TRUE(WaitUntil([&] { return !station.log.isEmpty(); }, 5000)) << c.what;
        EXPECT_TRUE(station.log.first().contains(QLatin1String(c.logged)))
            << c.what << ": " << station.log.first().toStdString();
        EXPECT_TRUE(station.acknowledged.empty()) << c.what;
    }
}

// Home Assistant finds the state emptied before the configs, one set before
// the connection held back for its next value (right behind the configs it
// could reach a sensor being removed), and the configs again at its start.
TEST(MqttPublisherTest, HomeAssistantFindsNoOldStateBesideTheConfigsAndGetsThemAgainAtItsStart) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber homeAssistant(broker.Port());
    ASSERT_TRUE(homeAssistant.WaitSubscribed());
    Station station(broker.Port());
    const QString state = station.options.topics.state;
    const QString status = HomeAssistantStatusTopic(kDefaultDiscoveryPrefix);
    station.options.clearedFirst = {state};
    station.options.rediscoveryTopic = status;
    station.Begin();
    station.publisher->SetRetained(state, "taken before the connection");
    const MqttMessage& config = station.options.announcements.back();
    const auto received = [&] { return homeAssistant.MessagesOn(config.topic).size(); };
    ASSERT_TRUE(WaitUntil([&] { return received() == 1; }, 5000));
    homeAssistant.Publish(status, "offline");
    RunEventsFor(300);
    EXPECT_EQ(received(), 1u);
    QStringList order;
    for (const auto& m : homeAssistant.Messages())
        if (m.topic == state || m.topic == config.topic)
            order << (m.topic == state ? "state " + m.payload : "config");
    EXPECT_EQ(order, QStringList({"state ", "config"}));
    station.publisher->SetRetained(state, "taken before the connection");
    homeAssistant.Publish(status, "online");
    ASSERT_TRUE(WaitUntil([&] { return received() == 2; }, 5000));
    EXPECT_EQ(homeAssistant.MessagesOn(config.topic).back().payload, config.payload);
    EXPECT_EQ(RetainedOn(broker.Port(), state), QByteArrayList{"taken before the connection"});
}

// A backlog of 3,000 readings reaches a subscriber whose broker queues at
// most 100 messages for it: paced, none is dropped on the way. Each is
// marked replayed; the state holds the live reading alone.
TEST(MqttSinkTest, BacklogReachesASubscriberWithASmallQueue) {
    MosquittoBroker broker({{}, {}, false, false, 100});
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    const MqttTopics topics = TopicsFor(QStringLiteral("korvinet"), kSerial);
    // A persistent session, as an archiver keeps one.
    MqttSubscriber archiver(broker.Port(), topics.reading, QStringLiteral("archiver"));
    ASSERT_TRUE(archiver.WaitSubscribed());

    QTemporaryDir dir;
    {
        DiskOutbox outbox(dir.filePath(QStringLiteral("mqtt/") + kSerial));
        QString error;
        ASSERT_TRUE(outbox.Open(&error)) << error.toStdString();
        MqttReading r;
        r.time = QDateTime::currentDateTime();
        for (r.seq = 1; r.seq <= 3000; ++r.seq)
            ASSERT_TRUE(outbox.Add(r, &error));
    }
    MqttSinkOptions options;
    options.url.host = QStringLiteral("127.0.0.1");
    options.url.port = broker.Port();
    options.outboxRoot = dir.filePath(QStringLiteral("mqtt"));
    options.device = kSerial;
    options.replayRate = 500;
    QStringList log;
    MqttSink sink(
        options, [&](const QString& line) { log << line; }, [](MqttSink::Failure) {});
    QString error;
    ASSERT_TRUE(sink.Start(&error)) << error.toStdString();
    sink.OnCounter({measure::CounterEvent::Kind::Connected, kSerial, QStringLiteral("KVT"), 2, {}});
    measure::SessionReading live;
    live.time = platform::DateTimeFromQt(QDateTime::currentDateTime());
    live.counts = 7;
    sink.OnReading(live);

    const auto arrived = [&](const char* seq) {
        return WaitUntil(
            [&] {
                const auto received = archiver.Messages();
                return !received.empty() && received.back().payload.startsWith(seq);
            },
            20000);
    };
    ASSERT_TRUE(arrived("{\"seq\": 3001,")) << log.join('\n').toStdString();
    // Caught up, the next reading goes out live.
    sink.OnReading(live);
    ASSERT_TRUE(arrived("{\"seq\": 3002,"));
    std::vector<std::uint64_t> seqs;
    for (const auto& m : archiver.Messages()) {
        const QJsonObject json = QJsonDocument::fromJson(m.payload).object();
        const auto seq = static_cast<std::uint64_t>(json["seq"].toInteger());
        // The first live one too: it waited behind the backlog.
        EXPECT_EQ(json["replayed"].toBool(), seq <= 3001) << m.payload.toStdString();
        if (seqs.empty() || seqs.back() != seq)
            seqs.push_back(seq);
    }
    EXPECT_EQ(seqs, Range(1, 3002));
    const QJsonObject state =
        QJsonDocument::fromJson(RetainedOn(broker.Port(), topics.state).value(0)).object();
    EXPECT_EQ(state["seq"], 3002);
    EXPECT_EQ(state["total_counts"], 14);
}

// The disk full while the broker is up: the readings it refuses go out all
// the same, and the outbox writes again once it has room.
TEST(MqttSinkTest, AFullDiskHoldsNoReadingBackWhileTheBrokerIsUp) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    const MqttTopics topics = TopicsFor(QStringLiteral("korvinet"), kSerial);
    MqttSubscriber subscriber(broker.Port(), topics.reading);
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir dir;
    MqttSinkOptions options;
    options.url.host = QStringLiteral("127.0.0.1");
    options.url.port = broker.Port();
    options.outboxRoot = dir.filePath(QStringLiteral("mqtt"));
    options.device = kSerial;
    QStringList log;
    MqttSink sink(
        options, [&](const QString& line) { log << line; }, [](MqttSink::Failure) {});
    QString error;
    ASSERT_TRUE(sink.Start(&error)) << error.toStdString();
    measure::SessionReading reading;
    reading.time = platform::DateTimeFromQt(QDateTime::currentDateTime());
    const auto add = [&](std::uint64_t seq) {
        sink.OnReading(reading);
        return WaitUntil([&] { return subscriber.MessagesOn(topics.reading).size() == seq; }, 5000);
    };
    ASSERT_TRUE(add(1)) << log.join('\n').toStdString();
    {
        // One byte short of a line: neither the segment written so far nor a
        // new one (begun once the broker has had every held reading) takes one.
        const testing::FileSizeLimit full(
            QFileInfo(options.outboxRoot + "/" + kSerial + "/segment-00000000000000000001.jsonl")
                .size() -
            1);
        for (std::uint64_t seq = 2; seq <= 4; ++seq)
            ASSERT_TRUE(add(seq)) << log.join('\n').toStdString();
    }
    ASSERT_TRUE(add(5));
    EXPECT_EQ(ReceivedSeqs(subscriber, topics.reading), Range(1, 5));
    EXPECT_EQ(log.filter("wait in memory").size(), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.filter("writing again").size(), 1) << log.join('\n').toStdString();
}

// Readings a counter's memory filled the journal with go out once, after
// what the outbox had, as a replayed backlog (told twice, sent once); the
// retained state stays the latest live reading.
TEST(MqttSinkTest, ACountersMemoryGoesOutOnceAsABacklog) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    const MqttTopics topics = TopicsFor(QStringLiteral("korvinet"), kSerial);
    MqttSubscriber subscriber(broker.Port(), topics.reading);
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir dir;
    std::vector<device::Reading> journal;
    MqttSinkOptions options;
    options.url.host = QStringLiteral("127.0.0.1");
    options.url.port = broker.Port();
    options.outboxRoot = dir.filePath(QStringLiteral("mqtt"));
    options.device = kSerial;
    options.journal = [&journal](const QDateTime& after, const auto& take) {
        for (const device::Reading& r : journal)
            if (device::MomentOf(r) > after)
                take(r);
    };
    QStringList log;
    MqttSink sink(
        options, [&](const QString& line) { log << line; }, [](MqttSink::Failure) {});
    QString error;
    ASSERT_TRUE(sink.Start(&error)) << error.toStdString();
    sink.OnCounter({measure::CounterEvent::Kind::Connected, kSerial, QStringLiteral("KVT"), 2, {}});
    const QDateTime t0 = QDateTime::currentDateTime().addSecs(-3600);
    const auto at = [&t0](int seconds) {
        measure::SessionReading r;
        r.time = platform::DateTimeFromQt(t0.addSecs(seconds));
        r.utcOffsetSeconds = t0.addSecs(seconds).offsetFromUtc();
        return r;
    };
    const auto stateSeq = [&] {
        return QJsonDocument::fromJson(RetainedOn(broker.Port(), topics.state).value(0))
            .object()["seq"]
            .toInteger();
    };
    ASSERT_TRUE(
        WaitUntil([&] { return sink.LinkState() == MqttPublisher::State::Connected; }, 5000));
    for (int i = 0; i < 3; ++i) {
        journal.push_back(at(3 * i));
        sink.OnReading(at(3 * i));
    }
    ASSERT_TRUE(WaitUntil([&] { return stateSeq() == 3; }, 5000)) << log.join('\n').toStdString();
    measure::CounterEvent filled;
    filled.kind = measure::CounterEvent::Kind::Backfilled;
    filled.serial = kSerial;
    filled.afterUtcMs = t0.addSecs(6).toMSecsSinceEpoch();
    filled.lastUtcMs = t0.addSecs(300).toMSecsSinceEpoch();
    for (int k = 1; k <= 5; ++k)
        journal.push_back(at(60 * k));
    sink.OnCounter(filled);
    sink.OnCounter(filled);
    ASSERT_TRUE(
        WaitUntil([&] { return ReceivedSeqs(subscriber, topics.reading).size() >= 8; }, 5000));
    RunEventsFor(300);
    EXPECT_EQ(ReceivedSeqs(subscriber, topics.reading), Range(1, 8));
    for (const auto& m : subscriber.MessagesOn(topics.reading)) {
        const QJsonObject json = QJsonDocument::fromJson(m.payload).object();
        EXPECT_TRUE(json["seq"].toInteger() <= 3 || json["replayed"].toBool());
    }
    EXPECT_EQ(stateSeq(), 3);
}

} // namespace
} // namespace korvinet::mqtt
