// The station's web site from outside, against the built program with a
// simulated counter: headless Chromium follows the page, a real Prometheus
// scrapes /metrics, /api/readings answers the journal's readings, and bad
// requests and idle connections leave the station measuring and publishing.
#include "files/data_file.h"
#include "platform/regional.h"
#include "station_run.h"
#include "support/http_probe.h"
#include "support/mqtt_broker.h"
#include "support/script_server.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>
#include <cmath>
#include <gtest/gtest.h>

namespace korvinet::station {
namespace {

using korvinet::testing::HttpGet;
using korvinet::testing::HttpReply;
using korvinet::testing::HttpSend;
using korvinet::testing::MosquittoBroker;
using korvinet::testing::MqttSubscriber;
using korvinet::testing::RunEventsFor;
using korvinet::testing::WaitUntil;

QString Artefact(const QString& name) {
    QDir().mkpath(QStringLiteral(KORVINET_TEST_ARTEFACTS));
    return QDir(QStringLiteral(KORVINET_TEST_ARTEFACTS)).filePath(name);
}

QStringList Fields(const QString& line) {
    return line.split(QLatin1Char('\t'));
}

// The page in headless Chromium: the history of the readings taken, then
// each new one without a reload, until the counter goes away after 6 s and
// the readings stop; then it holds every reading taken and shows the last.
TEST(StationWeb, ChromiumFollowsThePageLive) {
    QTemporaryDir home;
    StationRun run(home, {"KORVINET_SIM_UNPLUG=6000:600000"});
    const int port = StartServing(run, JournalArgs(home));
    ASSERT_GT(port, 0) << run.Errors().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return run.Lines().size() >= 2; }, 10000));

    QProcess probe;
    probe.start(QStringLiteral("python3"),
                {QStringLiteral(KORVINET_PAGE_PROBE),
                 QStringLiteral("http://127.0.0.1:%1/").arg(port),
                 Artefact(QStringLiteral("station-page.png")), "390", "1100",
                 // Settled: the counter gone and every reading taken in the chart.
                 "(() => { const $ = (id) => document.getElementById(id); "
                 "return $('counter').textContent.startsWith('Looking') && "
                 "$('chart').dataset.points === $('readings').textContent; })()"});
    ASSERT_TRUE(WaitUntil([&] { return probe.state() == QProcess::NotRunning; }, 40000));
    const QByteArray output = probe.readAllStandardOutput();
    const QJsonObject result = QJsonDocument::fromJson(output).object();
    ASSERT_FALSE(result.isEmpty())
        << output.toStdString() << probe.readAllStandardError().toStdString();
    const QJsonObject first = result["first"].toObject();
    const QJsonObject last = result["last"].toObject();
    const QStringList lines = run.Lines();
    ASSERT_TRUE(run.Errors().contains("readings pause")) << run.Errors().toStdString();

    EXPECT_EQ(last["counter"].toString(), "Looking for the counter");
    EXPECT_EQ(last["points"].toInt(), lines.size());
    EXPECT_GT(last["points"].toInt(), first["points"].toInt()); // followed without a reload
    EXPECT_EQ(last["value"].toString(), Fields(lines.last()).value(1));
    EXPECT_TRUE(last["stats"].toString().contains(
        QStringLiteral("Latest:    %1 mR/hr").arg(Fields(lines.last()).value(1))))
        << last["stats"].toString().toStdString();
    std::printf("[ figures  ] first render after %s ms, %d points at first\n",
                qPrintable(first["firstRenderMs"].toString()), first["points"].toInt());
    EXPECT_GT(QFile(Artefact(QStringLiteral("station-page.png"))).size(), 10000);
}

// Prometheus scrapes /metrics every second: the counter on the info metric,
// the reading as a dose rate in Sv/h (1 mR/hr is 10 µSv/h) without labels of
// its own.
TEST(StationWeb, PrometheusScrapesTheReading) {
    QTemporaryDir home;
    StationRun run(home);
    const int port = StartServing(run, JournalArgs(home));
    ASSERT_GT(port, 0) << run.Errors().toStdString();

    const int prometheusPort = korvinet::testing::UnusedPort();
    QFile config(home.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n  scrape_interval: 1s\n"
                                "scrape_configs:\n  - job_name: korvinet\n"
                                "    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                     .arg(port)
                     .toUtf8());
    config.close();
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::MergedChannels);
    prometheus.start(QStringLiteral("prometheus"),
                     {"--config.file=" + config.fileName(),
                      "--storage.tsdb.path=" + home.filePath(QStringLiteral("tsdb")),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort),
                      "--log.level=warn"});
    ASSERT_TRUE(prometheus.waitForStarted(5000));

    const auto query = [&](const QByteArray& expression) {
        const HttpReply reply = HttpGet(prometheusPort, "/api/v1/query?query=" + expression, 2000);
        return QJsonDocument::fromJson(reply.body)["data"]["result"].toArray();
    };
    QJsonArray dose, device;
    WaitUntil(
        [&] {
            dose = query("korvinet_dose_rate_sieverts_per_hour>0");
            device = query("korvinet_device_info");
            return !dose.isEmpty() && !device.isEmpty();
        },
        30000);
    prometheus.terminate();
    prometheus.waitForFinished(5000);
    ASSERT_EQ(dose.size(), 1) << prometheus.readAll().toStdString();
    ASSERT_EQ(device.size(), 1);
    EXPECT_EQ(device[0].toObject()["metric"].toObject()["serial"].toString(), "KV100001");
    const QJsonObject sample = dose[0].toObject();
    EXPECT_EQ(sample["metric"].toObject().keys(), QStringList({"__name__", "instance", "job"}));
    const double scraped = sample["value"].toArray()[1].toString().toDouble();
    bool printed = false;
    for (const QString& line : run.Lines())
        printed = printed || std::abs(Fields(line).value(1).toDouble() - scraped * 1e5) <= 0.0005;
    EXPECT_TRUE(printed) << scraped;
}

// Two runs, then a third that only serves (no counter attached): the range
// answers exactly the readings both runs printed, as JSON and as a data file
// the window's reader opens (a reading a second: a data file's times are
// whole seconds).
TEST(StationWeb, ReadingsOfARangeAreTheJournalsAcrossARestart) {
    QTemporaryDir home;
    QStringList taken;
    for (const char* count : {"3", "3"}) {
        StationRun run(home, {"KORVINET_STATION_SAMPLE_MS=1000"});
        run.Start(JournalArgs(home) + QStringList{"--count", count});
        ASSERT_TRUE(run.Finished(15000)) << run.Errors().toStdString();
        taken += run.Lines();
    }
    ASSERT_EQ(taken.size(), 6);
    StationRun server(home, {"KORVINET_SIM_DEVICES=0"});
    const int port = StartServing(server, JournalArgs(home));
    ASSERT_GT(port, 0) << server.Errors().toStdString();

    const auto time = [](const QString& line) {
        return QDateTime::fromString(Fields(line).value(0), Qt::ISODate);
    };
    const QByteArray range =
        "from=" + QUrl::toPercentEncoding(time(taken.first()).addSecs(-1).toString(Qt::ISODate)) +
        "&to=" + QUrl::toPercentEncoding(time(taken.last()).addSecs(1).toString(Qt::ISODate));
    const HttpReply json = HttpGet(port, "/api/readings?" + range);
    ASSERT_EQ(json.status, 200) << json.body.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(json.body).array();
    ASSERT_EQ(rows.size(), taken.size()) << json.body.toStdString();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject row = rows[i].toObject();
        const QDateTime at = QDateTime::fromString(row["time"].toString(), Qt::ISODateWithMs);
        EXPECT_EQ(at.toSecsSinceEpoch(), time(taken[i]).toSecsSinceEpoch()) << i;
        EXPECT_EQ(row["value"].toDouble(), Fields(taken[i]).value(1).toDouble()) << i;
        EXPECT_EQ(row["unit"].toString(), "mR/hr");
        EXPECT_EQ(row["counts"].toInt(), Fields(taken[i]).value(4).toInt()) << i;
    }

    const HttpReply csv = HttpGet(port, "/api/readings?format=csv&" + range);
    ASSERT_EQ(csv.status, 200);
    QFile file(home.filePath(QStringLiteral("served.csv")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(csv.body);
    file.close();
    const platform::Regional regional;
    files::DataFileReader reader(regional);
    files::DataFileContents contents;
    ASSERT_TRUE(reader.Open(file.fileName()));
    ASSERT_TRUE(reader.Read({QStringLiteral("CPM"), QStringLiteral("mR/hr")}, &contents));
    EXPECT_EQ(contents.leftAxisTitle, "mR/hr");
    ASSERT_EQ(contents.points.size(), static_cast<std::size_t>(taken.size()));
    for (qsizetype i = 0; i < taken.size(); ++i)
        EXPECT_EQ(contents.points[i].value, Fields(taken[i]).value(1).toDouble()) << i;
}

// Requests that must not work get a clear status; a thousand connections
// opened and left idle do not stop the readings nor their publishing, and
// once they close the station answers again.
TEST(StationWeb, BadRequestsAndIdleConnectionsLeaveTheStationMeasuring) {
    MosquittoBroker broker;
    ASSERT_TRUE(broker.Start()) << broker.Output().toStdString();
    MqttSubscriber subscriber(broker.Port(), QStringLiteral("korvinet/+/reading"));
    ASSERT_TRUE(subscriber.WaitSubscribed());
    QTemporaryDir home;
    StationRun run(home);
    const int port = StartServing(run, JournalArgs(home) + BrokerArgs(broker));
    ASSERT_GT(port, 0) << run.Errors().toStdString();

    const auto get = [](const QByteArray& target) {
        return "GET " + target + " HTTP/1.1\r\nHost: station\r\nConnection: close\r\n\r\n";
    };
    struct Case {
        const char* what;
        QByteArray request;
        int status; // 0: closed without an answer
        const char* reason;
    };
    const Case cases[] = {
        {"not HTTP", "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 0, ""},
        {"huge header",
         "GET / HTTP/1.1\r\nHost: station\r\nCookie: " + QByteArray(64 * 1024, 'c') + "\r\n\r\n",
         431, ""},
        {"a word for a date", get("/api/readings?from=yesterday"), 400, "\"from\" is no ISO 8601"},
        {"an impossible date", get("/api/readings?to=2026-02-30T10:00:00Z"), 400, "\"to\" is no"},
        {"an impossible time", get("/api/readings?from=2026-12-09T25:61:61%2B99:99"), 400,
         "\"from\" is no"},
        {"from after to", get("/api/readings?from=2026-12-10&to=2026-12-09"), 400,
         "\"from\" must come before \"to\""},
        {"step 0", get("/api/readings?step=0"), 400, "\"step\" is a number"},
        {"unknown format", get("/api/readings?format=xml"), 400, "\"format\" is json or csv"},
        {"unknown argument", get("/api/readings?limit=5"), 400, "unknown argument \"limit\""},
        {"traversal", get("/../../etc/passwd"), 404, "not found"},
        {"encoded traversal", get("/%2e%2e/%2e%2e/etc/passwd"), 404, "not found"},
        {"traversal after a file", get("/page.js/../../../etc/passwd"), 404, "not found"},
        {"a change", "PUT /api/status HTTP/1.1\r\nHost: s\r\nContent-Length: 2\r\n\r\n{}", 405,
         "only GET and HEAD"},
        {"the status", get("/api/status"), 200, "{"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HttpReply reply = HttpSend(port, c.request);
        EXPECT_EQ(reply.status, c.status) << reply.head.toStdString();
        EXPECT_TRUE(reply.body.startsWith(c.reason)) << reply.body.toStdString();
        if (c.status == 400) {
            EXPECT_EQ(reply.body.count('\n'), 1) << reply.body.toStdString();
        }
    }

    const auto published = [&] { return subscriber.Messages().size(); };
    const qsizetype takenBefore = run.Lines().size();
    const std::size_t publishedBefore = published();
    std::vector<int> idle = korvinet::testing::OpenIdleConnections(port, 1000);
    EXPECT_EQ(idle.size(), 1000u);
    RunEventsFor(3000);
    EXPECT_GE(run.Lines().size() - takenBefore, 8); // 12 due at 250 ms
    EXPECT_GE(published() - publishedBefore, 8u);
    korvinet::testing::CloseAll(idle);
    EXPECT_EQ(HttpGet(port, "/api/status").status, 200);
    EXPECT_EQ(run.process.state(), QProcess::Running);
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    EXPECT_EQ(run.process.exitCode(), 0) << run.Errors().toStdString();
}

// /api/status names the counter's calibration and where it comes from: the
// FTDI counter's EEPROM, a tube chosen for a serial counter, or none.
TEST(StationWeb, StatusNamesTheCalibrationAndItsSource) {
    const struct {
        const char* kind; // KORVINET_SIM_KIND; empty: the FTDI simulator
        QStringList args;
        QJsonValue calibration;
    } cases[] = {
        {"",
         {},
         QJsonObject{{"cpm_per_usvh", 60}, {"dead_time_s", 90 * 1e-6}, {"source", "EEPROM"}}},
        {"text-line",
         {"--tube", "LND-712"},
         QJsonObject{{"cpm_per_usvh", 108}, {"dead_time_s", 90e-6}, {"source", "tube LND-712"}}},
        {"pulse-byte", {}, QJsonValue::Null},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        QTemporaryDir home;
        StationRun run(home, {QStringLiteral("KORVINET_SIM_KIND=") + c.kind});
        const int port = StartServing(run, JournalArgs(home) + c.args);
        ASSERT_GT(port, 0) << run.Errors().toStdString();
        ASSERT_TRUE(WaitUntil([&] { return run.Lines().size() >= 1; }, 10000));
        const HttpReply reply = HttpGet(port, "/api/status");
        const QJsonObject status = QJsonDocument::fromJson(reply.body).object();
        EXPECT_EQ(status["calibration"], c.calibration) << reply.body.toStdString();
        run.Signal(SIGTERM);
        EXPECT_TRUE(run.Finished(10000));
    }
}

} // namespace
} // namespace korvinet::station
