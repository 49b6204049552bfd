// The built korvinet-station against a real broker: a simulated counter
// sampled every 250 ms, the journal in a temporary folder.
#include "device/serial_kinds.h"
#include "device/serial_simulator.h"
#include "mqtt/mqtt_payload.h"
#include "platform/file_replace.h"
#include "station_run.h"
#include "support/mqtt_broker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>

namespace korvinet::station {
namespace {

using korvinet::testing::MosquittoBroker;
using korvinet::testing::MqttSubscriber;
using korvinet::testing::Range;
using korvinet::testing::RetainedOn;
using korvinet::testing::RunEventsFor;
using korvinet::testing::WaitUntil;

const QString kReadingTopic = QStringLiteral("korvinet/KV100001/reading");
const QString kStatusTopic = QStringLiteral("korvinet/KV100001/status");
const QString kCounterTopic = QStringLiteral("korvinet/KV100001/counter");
const QString kStateTopic = QStringLiteral("korvinet/KV100001/state");

// The seq of every reading received, in arrival order; each payload a
// well-formed reading.
std::vector<std::uint64_t> ReceivedSeqs(const MqttSubscriber& subscriber) {
    std::vector<std::uint64_t> seqs;
    for (const auto& m : subscriber.MessagesOn(kReadingTopic)) {
        QJsonParseError error{};
        const QJsonObject json = QJsonDocument::fromJson(m.payload, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << m.payload.toStdString();
        EXPECT_TRUE(json.value("time").isString() && json.value("value").isDouble() &&
                    json.value("unit").toString() == "mR/hr" && json.value("cpm").isDouble() &&
                    json.value("interval_ms").isDouble() && json.value("alarm").isBool())
            << m.payload.toStdString();
        seqs.push_back(static_cast<std::uint64_t>(json.value("seq").toInteger()));
    }
    return seqs;
}

// Arrival order with repeats of a reading in flight at a break removed.
std::vector<std::uint64_t> Deduplicated(std::vector<std::uint64_t> seqs) {
    seqs.erase(std::unique(seqs.begin(), seqs.end()), seqs.end());
    return seqs;
}

TEST(StationProcess, PublishesEachReadingWithRetainedStatusAndDiscovery) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun run(home);
    run.Start(JournalArgs(home) + BrokerArgs(broker) +
              QStringList{"--count", "5", "--alarm", "0.001"});
    ASSERT_TRUE(run.Finished(20000)) << run.Errors().toStdString();
    EXPECT_EQ(run.process.exitCode(), 0) << run.Errors().toStdString();

    // Standard output: one tab-separated line per reading.
    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), 5) << run.out.toStdString();
    for (const QString& line : lines) {
        const QStringList f = line.split('\t');
        ASSERT_GE(f.size(), 5) << line.toStdString();
        EXPECT_TRUE(QDateTime::fromString(f[0], Qt::ISODate).isValid()) << line.toStdString();
        EXPECT_TRUE(f[0].contains(QRegularExpression("[+-]\\d\\d:\\d\\d$"))) << line.toStdString();
        EXPECT_EQ(f[2], "mR/hr");
        EXPECT_EQ(f.size() == 6, f.value(5) == "ALARM") << line.toStdString();
    }

    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).size() >= 5; }, 3000));
    EXPECT_EQ(ReceivedSeqs(subscriber), Range(1, 5));
    EXPECT_EQ(RetainedOn(broker.Port(), kStatusTopic), QByteArrayList{"offline"});
    const QByteArrayList discovery = RetainedOn(broker.Port(), QStringLiteral("homeassistant/#"));
    ASSERT_EQ(discovery.size(), 1);
    EXPECT_TRUE(discovery[0].contains(kStatusTopic.toUtf8())) << discovery[0].toStdString();

    // The journal recorded them and was closed cleanly.
    const QString journal = home.filePath(QStringLiteral("journal"));
    QFile state(journal + "/journal.state");
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    EXPECT_TRUE(state.readAll().startsWith("clean"));
    EXPECT_FALSE(QDir(journal).entryList({"*.csv"}).isEmpty());
}

TEST(StationProcess, LastWillSaysOfflineWhenKilled) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port(), kStatusTopic);
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun run(home);
    run.Start(JournalArgs(home) + BrokerArgs(broker));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !subscriber.Messages().empty() &&
                   subscriber.Messages().back().payload == "online";
        },
        10000))
        << run.Errors().toStdString();
    run.Signal(SIGKILL);
    ASSERT_TRUE(run.Finished(5000));
    ASSERT_TRUE(WaitUntil([&] { return subscriber.Messages().back().payload == "offline"; }, 5000));
    EXPECT_EQ(RetainedOn(broker.Port(), kStatusTopic), QByteArrayList{"offline"});
}

// The broker away for ten seconds: the station goes on sampling, and every
// reading taken meanwhile arrives afterwards, in order, none missing.
TEST(StationProcess, ReadingsTakenWhileTheBrokerIsAwayArriveAfterwards) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun run(home);
    run.Start(JournalArgs(home) + BrokerArgs(broker));
    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).size() >= 3; }, 10000))
        << run.Errors().toStdString();

    broker.Kill();
    RunEventsFor(10000);
    const int takenBefore = static_cast<int>(run.Lines().size());
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    ASSERT_TRUE(subscriber.WaitSubscribed(3000));
    // The backlog goes out paced; the station catches up with its sampling.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto seqs = ReceivedSeqs(subscriber);
            return !seqs.empty() && seqs.back() > std::uint64_t(takenBefore) &&
                   seqs.back() >= std::uint64_t(run.Lines().size());
        },
        20000))
        << run.Errors().toStdString();
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    EXPECT_EQ(run.process.exitCode(), 0);
    const auto taken = static_cast<std::uint64_t>(run.Lines().size());
    EXPECT_GE(taken, 40u);
    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).back() == taken; }, 3000));
    EXPECT_EQ(Deduplicated(ReceivedSeqs(subscriber)), Range(1, taken));
    EXPECT_TRUE(run.Errors().contains("MQTT:")) << run.Errors().toStdString();
}

// Stopped and started again while the broker is down: the readings of both
// runs wait on disk and all arrive once it is back.
TEST(StationProcess, ReadingsOfARestartWhileTheBrokerIsDownArrive) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun first(home);
    first.Start(JournalArgs(home) + BrokerArgs(broker));
    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).size() >= 2; }, 10000));
    broker.Kill();
    RunEventsFor(1500);
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.Finished(10000));
    EXPECT_EQ(first.process.exitCode(), 0) << first.Errors().toStdString();

    StationRun second(home);
    second.Start(JournalArgs(home) + BrokerArgs(broker));
    // Its attempts come 1, 3 and 7 s after the start: the subscriber is back
    // before the third.
    RunEventsFor(4500);
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    ASSERT_TRUE(subscriber.WaitSubscribed(3000));
    const auto total = [&] { return std::uint64_t(first.Lines().size() + second.Lines().size()); };
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto seqs = ReceivedSeqs(subscriber);
            return !seqs.empty() && seqs.back() >= total();
        },
        15000))
        << second.Errors().toStdString();
    second.Signal(SIGTERM);
    ASSERT_TRUE(second.Finished(10000));
    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).back() == total(); }, 3000));
    EXPECT_EQ(Deduplicated(ReceivedSeqs(subscriber)), Range(1, total()));
}

// Killed between the journal's line and the outbox's: at the next start
// the reading the outbox missed goes out from the journal, ahead of the
// new ones.
TEST(StationProcess, AReadingTheOutboxMissedGoesOutFromTheJournal) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port(), kReadingTopic);
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun first(home);
    first.Start(JournalArgs(home) + BrokerArgs(broker) + QStringList{"--count", "4"});
    ASSERT_TRUE(first.Finished(20000)) << first.Errors().toStdString();
    const QString missed = first.Lines().value(3).section('\t', 0, 0);
    const QString outbox = home.filePath("journal/mqtt/KV100001/");
    QFile segment(outbox + "segment-00000000000000000001.jsonl");
    ASSERT_TRUE(segment.open(QIODevice::ReadWrite));
    const QByteArray lines = segment.readAll();
    ASSERT_TRUE(segment.resize(lines.lastIndexOf('\n', lines.size() - 2) + 1));
    ASSERT_TRUE(platform::ReplaceFileContents(outbox + "outbox.state", "acked 3\n"));

    subscriber.Clear();
    StationRun second(home);
    second.Start(JournalArgs(home) + BrokerArgs(broker) + QStringList{"--count", "2"});
    ASSERT_TRUE(second.Finished(20000)) << second.Errors().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return ReceivedSeqs(subscriber).size() >= 3; }, 3000))
        << second.Errors().toStdString();
    EXPECT_EQ(ReceivedSeqs(subscriber), Range(4, 6));
    const QJsonObject fourth =
        QJsonDocument::fromJson(subscriber.MessagesOn(kReadingTopic).front().payload).object();
    EXPECT_EQ(fourth["time"].toString(), missed);
    EXPECT_TRUE(fourth["replayed"].toBool());
}

TEST(StationProcess, BadInputEndsWithOneClearLine) {
    MosquittoBroker broker({QStringLiteral("station"), QStringLiteral("right-password"), false});
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    QTemporaryDir home;
    const QString wrongPassword = home.filePath("wrong.pass");
    QFile pass(wrongPassword);
    ASSERT_TRUE(pass.open(QIODevice::WriteOnly));
    pass.write("not-the-password\n");
    pass.close();
    const QString url = QStringLiteral("mqtt://station@127.0.0.1:%1").arg(broker.Port());
    const QString tlsUrl = QStringLiteral("mqtts://127.0.0.1:%1").arg(broker.Port());
    const MosquittoBroker certificates({{}, {}, true}); // for its files alone
    const QString notPem = home.filePath("ca.txt");
    ASSERT_TRUE(platform::ReplaceFileContents(notPem, "no certificate\n"));
    // Another station or a window records into this journal folder.
    const QString busy = home.filePath("busy");
    QDir().mkpath(busy);
    QLockFile held(busy + "/journal.lock");
    ASSERT_TRUE(held.tryLock(0));

    struct Case {
        QStringList args;
        int exitCode; // 2: a mistake running again cannot mend
        QString message;
        bool oneLine; // the command line alone: one line and nothing else
    };
    const std::vector<Case> cases = {
        {{"--frobnicate"}, 2, "unknown option --frobnicate", true},
        {{"--mqtt", "mqtt//broker"}, 2, "--mqtt", true},
        {{"--units", "rem"}, 2, "unknown unit", true},
        {{"--averaging", "7"}, 2, "--averaging", true},
        {{"--count", "-1"}, 2, "--count", true},
        {{"--topic", "korvinet/+"}, 2, "--topic", true},
        {{"--mqtt", url, "--mqtt-cafile", "ca.pem"},
         2,
         "--mqtt-cafile needs an mqtts:// URL",
         true},
        {{"--mqtt", url, "--mqtt-password-file", home.filePath("missing.pass")},
         2,
         "--mqtt-password-file",
         true},
        // Certificates the library cannot use would be tried forever.
        {{"--mqtt", tlsUrl, "--mqtt-cafile", notPem}, 2, "--mqtt-cafile: ", true},
        {{"--mqtt", tlsUrl, "--mqtt-cafile", certificates.CaFile(), "--mqtt-cert",
          certificates.ClientCertFile(), "--mqtt-key", certificates.StrangerKeyFile()},
         2,
         "is not the key of the certificate",
         true},
        // Refused at the first attempt: no point retrying a wrong password.
        {{"--device", "KV100002", "--mqtt", url, "--mqtt-password-file", wrongPassword},
         2,
         "refused the login",
         false},
        {{"--journal", busy}, 1, "another program", false},
        {{}, 2, "2 counters are attached (KV100001, KV100002): choose one with --device", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        StationRun run(home, {"KORVINET_SIM_DEVICES=2"});
        const bool needsJournal = !c.args.contains("--journal");
        run.Start((needsJournal ? JournalArgs(home) : QStringList{}) + c.args +
                  QStringList{"--count", "1"});
        ASSERT_TRUE(run.Finished(15000));
        const QString errors = run.Errors();
        EXPECT_FALSE(errors.contains("right-password") || errors.contains("not-the-password"));
        EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.process.exitCode(), c.exitCode) << errors.toStdString();
        EXPECT_TRUE(errors.contains(c.message)) << errors.toStdString();
        // The wrong password lies in a file every user may read.
        EXPECT_EQ(errors.contains("readable by every user"), c.args.contains(wrongPassword));
        EXPECT_TRUE(run.Lines().isEmpty());
        if (c.oneLine) {
            EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
        }
    }

    // One of several chosen.
    StationRun chosen(home, {"KORVINET_SIM_DEVICES=2"});
    chosen.Start(JournalArgs(home) + QStringList{"--device", "KV100002", "--count", "1"});
    ASSERT_TRUE(chosen.Finished(10000));
    EXPECT_EQ(chosen.process.exitCode(), 0) << chosen.Errors().toStdString();
    EXPECT_EQ(chosen.Lines().size(), 1);
}

// Unplugged after a second and back 1.5 s later: a gap, logged with its
// cause, then the readings go on. The broker hears that the counter is
// absent within a sample period, and connected again; the clean stop at the
// end leaves it at that.
TEST(StationProcess, ContinuesWhenTheCounterComesBack) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port());
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun run(home, {"KORVINET_SIM_UNPLUG=1000:1500"});
    run.Start(JournalArgs(home) + BrokerArgs(broker) + QStringList{"--count", "10"});
    ASSERT_TRUE(run.Finished(20000)) << run.Errors().toStdString();
    EXPECT_EQ(run.process.exitCode(), 0);
    EXPECT_EQ(run.Lines().size(), 10);
    const QString errors = run.Errors();
    EXPECT_TRUE(errors.contains("KV100001: Failed to get counts; readings pause until it is back"))
        << errors.toStdString();
    EXPECT_TRUE(errors.contains("back: counter KV100001")) << errors.toStdString();

    ASSERT_TRUE(WaitUntil([&] { return subscriber.MessagesOn(kStatusTopic).size() >= 2; }, 3000));
    QByteArrayList said;
    std::chrono::steady_clock::time_point lastState;
    for (const auto& m : subscriber.Messages()) {
        if (m.topic == kStateTopic)
            lastState = m.arrived;
        if (m.topic != kCounterTopic || (!said.isEmpty() && said.back() == m.payload))
            continue;
        said << m.payload;
        if (m.payload == "absent" && said.size() == 2) {
            EXPECT_LT(m.arrived - lastState, std::chrono::milliseconds(2 * 250));
        }
    }
    EXPECT_EQ(said, QByteArrayList({"connected", "absent", "connected"}));
}

// Restarted in another unit: the state of the run before is emptied before
// the new config goes out, so the new unit's sensor never takes it.
TEST(StationProcess, ANewUnitsConfigNeverMeetsTheStateOfTheRunBefore) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port()); // everything, in the order sent
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    for (const char* unit : {"mR/hr", "uSv/hr"}) {
        StationRun run(home);
        run.Start(JournalArgs(home) + BrokerArgs(broker) +
                  QStringList{"--units", unit, "--count", "2"});
        ASSERT_TRUE(run.Finished(20000)) << run.Errors().toStdString();
    }
    ASSERT_TRUE(WaitUntil([&] { return subscriber.MessagesOn(kStatusTopic).size() >= 4; }, 3000));
    QByteArrayList states; // as they came, and where the new config came
    for (const auto& m : subscriber.Messages()) {
        if (m.topic == kStateTopic)
            states << m.payload;
        else if (m.topic.endsWith("/config") && m.payload.contains("\"\u03BCSv/h\""))
            states << "the new config";
    }
    const qsizetype config = states.indexOf("the new config");
    ASSERT_GT(config, 0);
    EXPECT_EQ(states[config - 1].toStdString(), ""); // emptied
    EXPECT_TRUE(states.value(config + 1).contains("Sv/hr")) << states.join('\n').toStdString();
}

// No counter at the start: the station is on the broker all the same, under
// the counter asked for (which is absent) or else under its own name.
TEST(StationProcess, IsOnTheBrokerWithoutACounter) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    QTemporaryDir home;
    const QString ownStatus = QStringLiteral("korvinet/%1/status")
                                  .arg(mqtt::TopicLevel("station-" + QSysInfo::machineHostName()));
    struct Case {
        QStringList args;
        std::vector<std::pair<QString, QByteArray>> retained; // topic, start of the payload
    };
    const Case cases[] = {
        {{}, {{ownStatus, "online"}}},
        {{"--device", "KV100001"},
         {{kStatusTopic, "online"},
          {kCounterTopic, "absent"},
          {"homeassistant/device/korvinet_KV100001/config", "{"}}},
        {{"--device", "KV100001", "--ha-prefix", "site/ha"},
         {{"site/ha/device/korvinet_KV100001/config", "{"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        StationRun run(home, {"KORVINET_SIM_DEVICES=0"});
        run.Start(JournalArgs(home) + BrokerArgs(broker) + c.args);
        for (const auto& [topic, payload] : c.retained) {
            EXPECT_TRUE(WaitUntil(
                [&, &topic = topic, &payload = payload] {
                    const QByteArrayList retained = RetainedOn(broker.Port(), topic);
                    return retained.size() == 1 && retained[0].startsWith(payload);
                },
                5000))
                << topic.toStdString() << run.Errors().toStdString();
        }
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Finished(5000));
    }
}

// No window system: the program loads no Qt Gui nor any X library, needs no
// DISPLAY, and SIGTERM, SIGINT or SIGHUP (a dropped ssh session) end it
// cleanly, the lock released. What a kill left half replaced goes at start.
class StationStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StationStopSignal, RunsOnQtCoreAloneAndEndsCleanly) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    QTemporaryDir home;
    const QStringList leftovers = {home.filePath("journal/.journal.state.k1ll3d"),
                                   home.filePath("journal/mqtt/KV100001/.outbox.state.k1ll3d")};
    for (const QString& path : leftovers)
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()) &&
                    QFile(path).open(QIODevice::WriteOnly));
    StationRun run(home);
    run.Start(JournalArgs(home) + BrokerArgs(broker));
    ASSERT_TRUE(WaitUntil([&] { return !run.Lines().isEmpty(); }, 10000))
        << run.Errors().toStdString();
    const auto found = [](const QByteArray& listing, const char* library) {
        std::set<std::string> files;
        for (const QByteArray& line : listing.split('\n'))
            if (line.contains(library))
                files.insert(line.trimmed().toStdString());
        std::string text;
        for (const std::string& file : files)
            text += file + '\n';
        return text;
    };
    const char* const windowLibraries[] = {"libQt6Gui", "libX11", "libxcb", "libQt6Widgets"};
    // What the program is linked with...
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(KORVINET_STATION_PROGRAM)});
    ASSERT_TRUE(ldd.waitForFinished(10000));
    const QByteArray linked = ldd.readAllStandardOutput();
    EXPECT_FALSE(found(linked, "libQt6Core").empty());
    for (const char* library : windowLibraries)
        EXPECT_EQ(found(linked, library), "") << library;
    // ...and what it loaded while running: where /proc shows this process
    // (a container's /proc may show another's under the same number).
    const QString proc = QStringLiteral("/proc/%1/").arg(run.process.processId());
    if (QFileInfo(proc + "exe").canonicalFilePath() ==
        QFileInfo(QStringLiteral(KORVINET_STATION_PROGRAM)).canonicalFilePath()) {
        QFile maps(proc + "maps");
        ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        EXPECT_FALSE(found(mapped, "libQt6Core").empty());
        for (const char* library : windowLibraries)
            EXPECT_EQ(found(mapped, library), "") << library;
    } else {
        std::fprintf(stderr, "%s is not the program here: what it loaded is not checked\n",
                     qPrintable(proc));
    }
    run.Signal(GetParam());
    ASSERT_TRUE(run.Finished(5000));
    EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process.exitCode(), 0);
    QFile state(home.filePath("journal/journal.state"));
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    EXPECT_TRUE(state.readAll().startsWith("clean"));
    EXPECT_FALSE(QFile::exists(home.filePath("journal/journal.lock")));
    for (const QString& path : leftovers)
        EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
}

INSTANTIATE_TEST_SUITE_P(TermIntHup, StationStopSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// Each kind of serial counter on a pseudo-terminal: one the test runs and
// names by its path, or the simulator the station runs itself (unplugged for
// a while and found again); without a calibration in CPM, with a tube or
// factor in the stored unit.
TEST(StationProcess, MeasuresFromEachKindOfSerialCounterThroughAPty) {
    const struct {
        QStringView kind;
        bool named;         // the test's counter, by --device PATH --kind; else KORVINET_SIM_KIND
        QStringList extra;  // calibration options
        const char* unit;   // of the readings
        const char* logged; // what the log says of the calibration
    } cases[] = {
        {device::kTextLineKind, true, {}, "CPM", "readings in CPM only (give --tube NAME"},
        {device::kPulseByteKind,
         true,
         {"--tube", "SBM-20"},
         "mR/hr",
         "108 CPM per \u00B5Sv/hr, dead time 190"},
        {device::kTextLineKind, false, {"--sensitivity", "150"}, "mR/hr", "(factor 150 CPM per"},
        {device::kPulseByteKind, false, {}, "CPM", "readings in CPM only"},
        // Counters that answer are recognised on the path named, without a
        // kind, and carry their calibration.
        {device::kRadProKind,
         true,
         {},
         "mR/hr",
         "(FS2011 (STM32F051C8), Rad Pro 3.0/en, device b5706d937087f975b5812810)"},
        {u"gmc-300", true, {}, "mR/hr", "(GQ GMC-300, serial 00000000000000)"},
        {u"gmc-500", false, {}, "mR/hr", "KVGM100001 (GQ GMC-500+, serial 4D313030303031)"},
        {device::kRadProKind, false, {}, "mR/hr", "Rad Pro 3.0/en"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind.toString().toStdString() + (c.named ? " named" : " simulated"));
        const bool answers =
            device::FindSerialKind(device::SimulatedSerialKind(c.kind))->recognise != nullptr;
        device::PtyCounter counter(device::MakeSimulation(c.kind), {QStringLiteral("T1"), {}, {}});
        QStringList args = {"--count", "8"};
        QStringList env = {"KORVINET_STATION_SAMPLE_MS=500"};
        if (c.named) {
            ASSERT_TRUE(counter.Plug());
            // 10 counts a second, whatever the kind's period.
            const std::uint32_t perPeriod = c.kind == device::kPulseByteKind ? 1 : 10;
            counter.Run([perPeriod] { return perPeriod; });
            args << "--device" << counter.Entry().path;
            if (!answers)
                args << "--kind" << c.kind.toString();
            env << "KORVINET_SIM_DEVICES=0";
        } else {
            env << "KORVINET_SIM_KIND=" + c.kind.toString() << "KORVINET_SIM_UNPLUG=1000:1500";
        }
        QTemporaryDir home;
        StationRun run(home, env);
        run.Start(JournalArgs(home) + args + c.extra);
        if (c.named && !answers) { // a line that does not read, and is logged
            ASSERT_TRUE(WaitUntil([&] { return run.Lines().size() >= 2; }, 20000))
                << counter.Entry().path.toStdString() << ": " << run.Errors().toStdString();
            counter.Send("noise\r\n");
        }
        ASSERT_TRUE(run.Finished(30000)) << run.Errors().toStdString();
        EXPECT_EQ(run.process.exitCode(), 0) << run.Errors().toStdString();
        const QStringList lines = run.Lines();
        ASSERT_EQ(lines.size(), 8) << run.out.toStdString() << run.Errors().toStdString();
        long long counts = 0;
        for (const QString& line : lines) {
            EXPECT_EQ(line.section('\t', 2, 2), c.unit) << line.toStdString();
            counts += line.section('\t', 4, 4).toLongLong();
        }
        EXPECT_GT(counts, 10) << run.out.toStdString();
        EXPECT_TRUE(run.Errors().contains(QString::fromUtf8(c.logged)))
            << run.Errors().toStdString();
    }
}

} // namespace
} // namespace korvinet::station
