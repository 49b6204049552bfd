// A counter's own memory filling the journal's gap, end to end: the built
// korvinet-station with a simulated Rad Pro whose clock runs five hours
// behind, a real broker and the map stand-in (map_stand_in.h).
#include "map_stand_in.h"
#include "recording/journal_folder.h"
#include "recording/journal_reader.h"
#include "support/http_probe.h"
#include "support/mqtt_broker.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace korvinet::station {
namespace {

using korvinet::testing::HttpGet;
using korvinet::testing::MosquittoBroker;
using korvinet::testing::MqttSubscriber;
using korvinet::testing::RetainedOn;
using korvinet::testing::RunEventsFor;
using korvinet::testing::WaitUntil;

// The readings of the journal's own parts, or of its counter-memory parts.
std::vector<device::TimedReading> JournalPart(const QString& folder, bool memory) {
    std::vector<device::TimedReading> readings;
    for (const recording::JournalFile& f : recording::ListJournalSamples(folder, memory)) {
        QFile file(QDir(folder).filePath(recording::JournalSamplesName(f.day, f.part, memory)));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        for (const QByteArray& line : file.readAll().split('\n')) {
            device::TimedReading r;
            if (!line.startsWith('#') && recording::ParseJournalSampleLine(line, &r))
                readings.push_back(r);
        }
    }
    return readings;
}

qint64 StartOf(const device::TimedReading& r) {
    return r.utcMs - r.reading.intervalMs;
}

qint64 Ms(const QJsonValue& time) {
    return QDateTime::fromString(time.toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

QByteArray UrlTime(qint64 ms) {
    return QUrl::toPercentEncoding(
        QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs));
}

// The station runs a while, is stopped ("the computer was off") while the
// counter logs on, and starts again with the counter's log reaching back
// past the first run: the journal's gap, and only the gap, is filled at the
// computer's times, and from there it reaches the history, the MQTT
// subscribers (once, as a backlog, the retained state staying the live
// reading's) and every map that takes a time (each interval once).
TEST(StationMemory, AGapFilledFromTheCountersLogReachesHistoryMqttAndMaps) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port(), QStringLiteral("korvinet/+/reading"));
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    const QString journal = home.filePath(QStringLiteral("journal"));
    MapServer server(home);
    const QStringList args = UploadArgs(home, UploadFile(home, server.Port())) + BrokerArgs(broker);
    const QStringList env =
        kFastSamples + QStringList{"KORVINET_SIM_KIND=rad-pro",
                                   "KORVINET_SIM_CLOCK_OFFSET_S=-18000", "KORVINET_SIM_LOG_S=1"};
    const qint64 firstStart = QDateTime::currentMSecsSinceEpoch();
    {
        StationRun run(home, env);
        run.Start(args);
        ASSERT_TRUE(WaitUntil(
            [&] {
                return std::ranges::all_of(
                    kTimed, [&](const QString& s) { return !server.Uploads(s).empty(); });
            },
            15000))
            << run.Errors().toStdString();
        run.Signal(SIGTERM);
        ASSERT_TRUE(run.Finished(10000));
        ASSERT_EQ(run.process.exitCode(), 0) << run.Errors().toStdString();
    }
    const std::vector<device::TimedReading> before = JournalPart(journal, false);
    ASSERT_FALSE(before.empty());
    RunEventsFor(5000);
    const qint64 pastS = (QDateTime::currentMSecsSinceEpoch() - firstStart) / 1000 + 5;
    StationRun run(home, env + QStringList{"KORVINET_SIM_MEMORY_S=" + QString::number(pastS)});
    const int port = StartServing(run, args);
    ASSERT_GT(port, 0) << run.Errors().toStdString();
    ASSERT_TRUE(CaughtUp(server, 20000)) << run.Errors().toStdString();

    // The journal: the gap's readings in a part of their own, back on the
    // computer's clock (five hours off they would lie outside the gap), one
    // a second, none twice and none over a reading the journal took itself.
    const std::vector<device::TimedReading> memory = JournalPart(journal, true);
    const std::vector<device::TimedReading> own = JournalPart(journal, false);
    ASSERT_GE(memory.size(), 3u) << run.Errors().toStdString();
    const qint64 lastBefore = before.back().utcMs;
    const auto firstAfter = std::ranges::find_if(
        own, [&](const device::TimedReading& r) { return r.utcMs > lastBefore; });
    ASSERT_NE(firstAfter, own.end());
    EXPECT_GE(StartOf(memory.front()), lastBefore);
    EXPECT_LT(StartOf(memory.front()) - lastBefore, 3000);
    EXPECT_LE(memory.back().utcMs, StartOf(*firstAfter));
    EXPECT_LT(StartOf(*firstAfter) - memory.back().utcMs, 3000);
    for (std::size_t k = 0; k < memory.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(memory[k].reading.intervalMs, 1000);
        EXPECT_GT(memory[k].reading.counts, 0u);
        if (k > 0) {
            EXPECT_GE(StartOf(memory[k]), memory[k - 1].utcMs);
        }
    }

    // The history serves them between the runs' own readings.
    const korvinet::testing::HttpReply reply =
        HttpGet(port, "/api/readings?from=" + UrlTime(lastBefore + 1) +
                          "&to=" + UrlTime(firstAfter->utcMs));
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    std::vector<std::pair<qint64, qint64>> served; // time, counts
    for (const QJsonValue& row : QJsonDocument::fromJson(reply.body).array())
        if (!row["gap"].toBool())
            served.emplace_back(Ms(row["time"]), row["counts"].toInteger());
    std::vector<std::pair<qint64, qint64>> kept;
    for (const device::TimedReading& r : memory)
        kept.emplace_back(r.utcMs, r.reading.counts);
    EXPECT_EQ(served, kept) << reply.body.toStdString();

    // MQTT: each of them once, as a backlog; the live readings are 50 ms
    // long, and the payloads name whole seconds.
    const auto fromMemory = [&] {
        std::vector<QJsonObject> found;
        for (const auto& m : subscriber.Messages()) {
            const QJsonObject json = QJsonDocument::fromJson(m.payload).object();
            if (json["interval_ms"].toInt() == 1000)
                found.push_back(json);
        }
        return found;
    };
    ASSERT_TRUE(WaitUntil([&] { return fromMemory().size() >= memory.size(); }, 10000));
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    const QString errors = run.Errors();
    EXPECT_EQ(run.process.exitCode(), 0) << errors.toStdString();
    const std::vector<QJsonObject> backlog = fromMemory();
    ASSERT_EQ(backlog.size(), memory.size());
    for (std::size_t k = 0; k < memory.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(backlog[k]["replayed"].toBool());
        EXPECT_EQ(Ms(backlog[k]["time"]), memory[k].utcMs - memory[k].utcMs % 1000);
        EXPECT_EQ(backlog[k]["counts"].toInteger(), memory[k].reading.counts);
    }
    std::vector<qint64> seqs;
    for (const auto& m : subscriber.Messages())
        seqs.push_back(QJsonDocument::fromJson(m.payload)["seq"].toInteger());
    EXPECT_TRUE(std::ranges::adjacent_find(seqs, std::greater_equal<>()) == seqs.end());
    EXPECT_EQ(errors.count(QStringLiteral("outbox: %1 readings from the counter's memory go out "
                                          "as a backlog")
                               .arg(memory.size())),
              1)
        << errors.toStdString();
    // The retained state is the last reading taken live.
    const QByteArrayList state = RetainedOn(broker.Port(), QStringLiteral("korvinet/+/state"));
    ASSERT_EQ(state.size(), 1);
    const QJsonObject latest = QJsonDocument::fromJson(state[0]).object();
    EXPECT_FALSE(latest.contains("replayed")) << state[0].toStdString();
    const qint64 lastLive = JournalPart(journal, false).back().utcMs;
    EXPECT_EQ(Ms(latest["time"]), lastLive - lastLive % 1000) << state[0].toStdString();

    // The maps that take a time: every interval from the first run's on,
    // the gap's included, once and in order.
    EXPECT_EQ(server.Errors(), QStringList{});
    for (const QString& service : kTimed) {
        ExpectEveryIntervalOnce(home, server, service);
        const std::vector<Upload> uploads = server.Uploads(service);
        EXPECT_LT(uploads.front().endMs, memory.front().utcMs) << service.toStdString();
        EXPECT_GT(uploads.back().endMs, memory.back().utcMs) << service.toStdString();
    }
}

} // namespace
} // namespace korvinet::station
