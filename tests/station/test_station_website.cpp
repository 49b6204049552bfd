// The station's web site from outside, against the built program with a
// simulated counter: headless Chromium follows the page, a real Prometheus
// scrapes /metrics, /api/readings answers the journal's readings, and bad
// requests and idle connections leave the station measuring and publishing.
#include "files/data_file.h"
#include "page_probe.h"
#include "platform/datetime.h"
#include "platform/regional.h"
#include "recording/recording_journal.h"
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
#include <QTimeZone>
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

// Starts the station serving on a free port of 127.0.0.1; the port its log
// names, 0 when it names none.
int StartServing(StationRun& run, const QStringList& args) {
    run.Start(args + QStringList{"--http", "127.0.0.1:0"});
    static const QRegularExpression served("web page at http://127\\.0\\.0\\.1:(\\d+)/");
    int port = 0;
    WaitUntil(
        [&] {
            port = served.match(run.Errors()).captured(1).toInt();
            return port != 0 || run.process.state() == QProcess::NotRunning;
        },
        10000);
    return port;
}

QString Artefact(const QString& name) {
    QDir().mkpath(QStringLiteral(KORVINET_TEST_ARTEFACTS));
    return QDir(QStringLiteral(KORVINET_TEST_ARTEFACTS)).filePath(name);
}

QStringList Fields(const QString& line) {
    return line.split(QLatin1Char('\t'));
}

// 59 minutes of readings every 3 s up to half a minute ago, at a station
// whose clock is at +05:30, with the scatter of real counts (the weight of
// the first load depends on it): what a page opened on a running station
// with the default sampling loads first.
int FillJournal(const QString& folder) {
    const Regional regional(QLocale::c());
    RecordingJournal journal(folder, regional);
    journal.SetFileHeader({QStringLiteral("KVT-PULSE1"), QStringLiteral("45 seconds"),
                           QStringLiteral("Radiation vs. Time"), QString()});
    const QTimeZone zone(5 * 3600 + 1800);
    constexpr qint64 kSpan = 59 * 60000;
    const qint64 end = QDateTime::currentMSecsSinceEpoch() - 30000;
    const auto local = [&](qint64 ms) {
        return DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(ms, zone));
    };
    EXPECT_TRUE(journal.Start(local(end - kSpan), local(end - kSpan)).ok);
    std::uint32_t random = 12345;
    int written = 0;
    for (qint64 ms = end - kSpan + 3000; ms <= end; ms += 3000, ++written) {
        random = random * 1103515245u + 12345u;
        const double scatter = static_cast<double>(random >> 16 & 0x3ff) / 1024.0 - 0.5;
        Reading r;
        r.time = local(ms);
        r.utcOffsetSeconds = zone.offsetFromUtc(QDateTime::currentDateTimeUtc());
        r.value = std::round((1.0 + 0.2 * scatter) * 1000) / 1000;
        r.cpm = std::round(r.value * 6000) / 10;
        r.counts = 25 + (random >> 8) % 11;
        r.intervalMs = 2990 + (random >> 4) % 21;
        r.band = RateBand{{std::round(r.value * 780) / 1000, false},
                          {std::round(r.value * 1250) / 1000, false}};
        EXPECT_TRUE(journal.Append(r).ok);
    }
    journal.Close();
    return written;
}

// The page in headless Chromium on a station at +05:30 (the browser at UTC)
// with an hour of journal: the history, then each new reading without a
// reload, until the counter goes away after 6 s and the readings stop; then
// it holds every reading, shows the last at the station's time, and its
// download is a data file of them that the window's reader opens. Once the
// station is gone the alarm is unknown. Prints the weight of the first load
// and when the chart first drew.
TEST(StationWeb, ChromiumFollowsThePageLive) {
    QTemporaryDir home;
    const int journalled = FillJournal(home.filePath(QStringLiteral("journal")));
    // A reading a second: a data file's times are whole seconds.
    StationRun run(home, {"KORVINET_SIM_UNPLUG=6000:600000", "TZ=<+0530>-5:30",
                          "KORVINET_STATION_SAMPLE_MS=1000"});
    const int port = StartServing(run, JournalArgs(home));
    ASSERT_GT(port, 0) << run.Errors().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return run.Lines().size() >= 2; }, 10000));

    PageProbe page(360, 1000);
    page.Run({{"go", QStringLiteral("http://127.0.0.1:%1/").arg(port)}});
    ASSERT_TRUE(page.Wait("document.body.dataset.firstRenderMs"));
    // Loaded: the dose of the day, asked for last, is shown.
    ASSERT_TRUE(page.Wait("document.getElementById('today').textContent.startsWith('Dose today')"));
    const QJsonObject load = page.Run({{"bytes", true}});
    const int firstRenderMs = page.Eval("Number(document.body.dataset.firstRenderMs)").toInt();
    const int firstPoints =
        page.Eval("Number(document.getElementById('chart').dataset.points)").toInt();
    // Settled: the counter gone and every reading taken in the chart.
    ASSERT_TRUE(page.Wait(QStringLiteral("(() => { const $ = (id) => document.getElementById(id); "
                                         "return $('counter').textContent.startsWith('Looking') && "
                                         "Number($('chart').dataset.points) === %1 + "
                                         "Number($('readings').textContent); })()")
                              .arg(journalled),
                          30));
    const QStringList lines = run.Lines();
    ASSERT_TRUE(run.Errors().contains("readings pause")) << run.Errors().toStdString();
    const int points = page.Eval("Number(document.getElementById('chart').dataset.points)").toInt();
    EXPECT_EQ(points, journalled + lines.size());
    EXPECT_GT(points, firstPoints); // followed without a reload
    const QString last = Fields(lines.last()).value(1);
    const QDateTime lastTime = QDateTime::fromString(Fields(lines.last()).value(0), Qt::ISODate);
    ASSERT_TRUE(Fields(lines.last()).value(0).endsWith("+05:30"));
    EXPECT_EQ(page.Text("value"), last);
    EXPECT_TRUE(page.Text("taken").startsWith(
        "Taken " + lastTime.toOffsetFromUtc(19800).toString("HH:mm:ss") + " UTC+05:30"))
        << page.Text("taken").toStdString();
    EXPECT_TRUE(page.Text("stats").contains(QStringLiteral("Latest:    %1 mR/hr").arg(last)))
        << page.Text("stats").toStdString();
    page.Run({{"shot", Artefact(QStringLiteral("station-page.png"))}});

    const QString downloads = home.filePath(QStringLiteral("downloads"));
    page.Run({{"downloads", downloads}});
    page.Run({{"click", "#download"}});
    QStringList files;
    WaitUntil(
        [&] {
            files = QDir(downloads).entryList({QStringLiteral("*.csv")}, QDir::Files);
            return !files.isEmpty();
        },
        10000);
    ASSERT_EQ(files.size(), 1);
    const Regional regional;
    DataFileReader reader(regional);
    DataFileContents contents;
    ASSERT_TRUE(reader.Open(QDir(downloads).filePath(files[0])));
    ASSERT_TRUE(reader.Read({QStringLiteral("CPM"), QStringLiteral("mR/hr")}, &contents));
    ASSERT_EQ(contents.points.size(), static_cast<std::size_t>(points));
    EXPECT_EQ(contents.points.back().value, last.toDouble());
    EXPECT_EQ(QtFromDateTime(contents.points.back().time).toString("HH:mm:ss"),
              lastTime.toOffsetFromUtc(19800).toString("HH:mm:ss"));

    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    EXPECT_TRUE(page.Wait("document.title.startsWith('Unknown') && "
                          "document.getElementById('alarm').textContent === 'Alarm unknown'",
                          15));
    std::printf("[ figures  ] first load %d bytes in %d requests, chart drawn after %d ms with "
                "%d points\n",
                load["value"].toInt(), load["requests"].toInt(), firstRenderMs, firstPoints);
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
    const Regional regional;
    DataFileReader reader(regional);
    DataFileContents contents;
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

} // namespace
} // namespace korvinet::station
