// The built korvinet-station feeding the five maps, played by one local
// server (tests/maps/map_services_server.py) that answers every request as the
// service's own server does. The station samples every 50 ms, which shortens
// the services' 60-s intervals to 1 s; the counter counts 100 a second, so
// each interval has as many hits as a real hour's.
#include "maps/count_samples.h"
#include "maps/map_requests.h"
#include "station_run.h"
#include "support/script_server.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <limits>
#include <optional>

namespace korvinet::station {
namespace {

using korvinet::testing::RunEventsFor;
using korvinet::testing::ScriptServer;
using korvinet::testing::TestScript;
using korvinet::testing::UnusedPort;
using korvinet::testing::WaitUntil;

constexpr qint64 kIntervalMs = 1000;
const QStringList kFastSamples = {QStringLiteral("KORVINET_STATION_SAMPLE_MS=50"),
                                  QStringLiteral("KORVINET_SIM_CPM=6000")};
const QStringList kTimed = {"radmon", "safecast", "opensensemap", "openradiation"};
// The secrets the map server knows; none may ever be printed.
const QStringList kSecrets = {"s&cret=1 2", "safecast-key", "osem-token", "openradiation-key"};

struct Upload {
    qint64 endMs = 0; // the interval's end; 0 for GMCmap, which takes no time
    double value = 0;
    double at = 0; // when it arrived, seconds since 1970
    // OpenRadiation: the span its hits were counted in, and how the service
    // rates the report; Safecast: the height it stored.
    qint64 spanMs = -1;
    qint64 hits = -1;
    int reliability = -1;
    int height = -1;
};

// The map server on one port for the whole test, stopped and started again
// for an outage; its log of accepted uploads outlives it.
class MapServer {
public:
    explicit MapServer(const QTemporaryDir& home)
        : log_(home.filePath("uploads.jsonl")), modes_(home.filePath("modes.json")),
          port_(UnusedPort()) {
        Start();
    }
    void Start() {
        server_.emplace(QStringLiteral("python3"),
                        QStringList{TestScript("maps/map_services_server.py"), "--port",
                                    QString::number(port_), "--log", log_, "--modes", modes_,
                                    "--radmon-gap", "0.3"});
        EXPECT_EQ(server_->Port(), port_);
    }
    void Stop() { server_.reset(); }
    int Port() const { return port_; }
    void SetModes(const QJsonObject& modes) const {
        QFile file(modes_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(modes).toJson());
    }

    // Accepted uploads of a service in arrival order, one per interval.
    std::vector<Upload> Uploads(const QString& service) const {
        std::vector<Upload> uploads;
        for (const QJsonObject& entry : Entries()) {
            if (entry.value("service").toString() != service || entry.contains("error"))
                continue;
            const QJsonArray times = entry.value("times").toArray();
            const QJsonArray values = entry.value("values").toArray();
            const auto ms = [](const QJsonValue& time) {
                return QDateTime::fromString(time.toString(), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch();
            };
            for (qsizetype i = 0; i < times.size(); ++i) {
                Upload u;
                if (times[i].isString())
                    u.endMs = ms(times[i]);
                if (service == "openradiation") {
                    // Its end is the interval's last sample.
                    u.spanMs = u.endMs - ms(entry.value("starts").toArray()[i]);
                    u.endMs = maps::IntervalStart(u.endMs, kIntervalMs) + kIntervalMs;
                }
                u.value = values[i].toDouble();
                u.hits = entry.value("hits").toInteger(-1);
                u.reliability = entry.value("reliability").toInt(-1);
                u.height = entry.value("height").toInt(-1);
                u.at = entry.value("at").toDouble();
                uploads.push_back(u);
            }
        }
        return uploads;
    }
    // Requests that were not as the service documents them.
    QStringList Errors() const {
        QStringList errors;
        for (const QJsonObject& entry : Entries())
            if (entry.contains("error"))
                errors << entry.value("service").toString() + ": " +
                              entry.value("error").toString();
        return errors;
    }

private:
    std::vector<QJsonObject> Entries() const {
        std::vector<QJsonObject> entries;
        QFile file(log_);
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray& line : file.readAll().split('\n'))
                if (!line.isEmpty())
                    entries.push_back(QJsonDocument::fromJson(line).object());
        return entries;
    }

    QString log_;
    QString modes_;
    int port_;
    std::optional<ScriptServer> server_;
};

void WriteFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// An upload file for all five services on the map server, every interval 60 s.
QString UploadFile(const QTemporaryDir& home, int port, const QByteArray& gmcAccount = "1234") {
    WriteFile(home.filePath("radmon.pass"), "s&cret=1 2\n");
    WriteFile(home.filePath("safecast.key"), "safecast-key\n");
    WriteFile(home.filePath("osem.token"), "osem-token\n");
    WriteFile(home.filePath("openradiation.key"), "openradiation-key\n");
    QByteArray text = R"(# every service the station feeds
[radmon]
user = station1
password-file = radmon.pass
url = http://127.0.0.1:PORT/radmon
[safecast]
api-key-file = safecast.key
latitude = 47.3769
longitude = 8.5417
height = 1.6  # metres above the ground
device-id = 42
location-name = Zurich, roof
url = http://127.0.0.1:PORT/safecast
[opensensemap]
box = 5f1e0c0ffee0000000000001
sensor = 5f1e0c0ffee0000000000002
token-file = osem.token
url = http://127.0.0.1:PORT/opensensemap/
[openradiation]
api-key-file = openradiation.key
latitude = 47.3769
longitude = 8.5417
measurement-environment = countryside
measurement-height = 1
apparatus-id = roof counter
url = http://127.0.0.1:PORT/openradiation
[gmcmap]
account = ACCOUNT
counter = 5678
url = http://127.0.0.1:PORT/gmcmap
)";
    text.replace("PORT", QByteArray::number(port)).replace("ACCOUNT", gmcAccount);
    text.replace("\nurl", "\ninterval = 60\nurl");
    const QString path = home.filePath("upload.ini");
    WriteFile(path, text);
    return path;
}

QStringList UploadArgs(const QTemporaryDir& home, const QString& uploadFile) {
    return JournalArgs(home) + QStringList{"--upload", uploadFile};
}

// Every interval the journal holds samples for.
std::vector<maps::IntervalMean> JournalIntervals(const QTemporaryDir& home) {
    return maps::NextIntervals(maps::JournalSamples(home.filePath("journal")), 0,
                               std::numeric_limits<qint64>::max(), kIntervalMs, 1000000);
}

// The service received every recorded interval from its first upload to its
// last, each once, in order, with the interval's mean count rate.
void ExpectEveryIntervalOnce(const QTemporaryDir& home, const MapServer& server,
                             const QString& service, qint64 firstEndMs = 0) {
    SCOPED_TRACE(service.toStdString());
    const std::vector<Upload> uploads = server.Uploads(service);
    ASSERT_GE(uploads.size(), 3u);
    std::vector<maps::IntervalMean> expected;
    for (const maps::IntervalMean& i : JournalIntervals(home))
        if (i.endMs >= uploads.front().endMs && i.endMs <= uploads.back().endMs)
            expected.push_back(i);
    if (firstEndMs != 0) {
        EXPECT_EQ(uploads.front().endMs, firstEndMs);
    }
    ASSERT_EQ(uploads.size(), expected.size());
    for (std::size_t k = 0; k < uploads.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(uploads[k].endMs, expected[k].endMs);
        if (service == "openradiation") {
            // The value is a dose rate; the hits go with the time they took,
            // and with what the file tells of the counter the service trusts
            // a report of a whole interval (it wants more than 78).
            EXPECT_EQ(uploads[k].hits, qint64(expected[k].counts));
            EXPECT_EQ(uploads[k].spanMs, qint64(expected[k].liveMs));
            if (expected[k].liveMs >= kIntervalMs * 9 / 10) {
                EXPECT_GT(uploads[k].reliability, 78);
            }
        } else {
            EXPECT_NEAR(uploads[k].value, expected[k].Cpm(), 0.006);
        }
        if (service == "safecast") {
            EXPECT_EQ(uploads[k].height, 2); // 1.6 m in whole metres
        }
    }
}

// Waits until every service that takes a time has what was recorded up to now.
bool CaughtUp(const MapServer& server, int timeoutMs) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 target = now - now % kIntervalMs;
    return WaitUntil(
        [&] {
            for (const QString& service : kTimed) {
                const std::vector<Upload> uploads = server.Uploads(service);
                if (uploads.empty() || uploads.back().endMs < target)
                    return false;
            }
            return true;
        },
        timeoutMs);
}

void ExpectNoSecretPrinted(StationRun& run) {
    const QString printed = run.Errors() + run.out;
    for (const QString& secret : kSecrets)
        EXPECT_FALSE(printed.contains(secret)) << secret.toStdString();
}

// The maps away for ten intervals (and the station restarted meanwhile, in
// the second variant): afterwards every service that takes a time has every
// recorded interval, once and in order; GMCmap has the live values only.
class StationUploadsOutage : public ::testing::TestWithParam<bool> {};

TEST_P(StationUploadsOutage, FillsEveryGapTheServicesAllow) {
    const bool restart = GetParam();
    QTemporaryDir home;
    MapServer server(home);
    const QString file = UploadFile(home, server.Port());
    std::optional<StationRun> run;
    run.emplace(home, kFastSamples);
    run->Start(UploadArgs(home, file));
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const QString& s : kTimed + QStringList{"gmcmap"})
                if (server.Uploads(s).size() < 2)
                    return false;
            return true;
        },
        15000))
        << run->Errors().toStdString();

    server.Stop();
    RunEventsFor(5 * kIntervalMs);
    if (restart) {
        run->Signal(SIGTERM);
        ASSERT_TRUE(run->Finished(10000));
        EXPECT_EQ(run->process.exitCode(), 0) << run->Errors().toStdString();
        ExpectNoSecretPrinted(*run);
        run.emplace(home, kFastSamples);
        run->Start(UploadArgs(home, file));
    }
    RunEventsFor(5 * kIntervalMs);
    server.Start();
    ASSERT_TRUE(CaughtUp(server, 20000)) << run->Errors().toStdString();
    run->Signal(SIGTERM);
    ASSERT_TRUE(run->Finished(10000));
    const QString errors = run->Errors();

    EXPECT_EQ(server.Errors(), QStringList{});
    for (const QString& service : kTimed)
        ExpectEveryIntervalOnce(home, server, service);
    // GMCmap: no burst of old values after the outage, and the gap logged once.
    const std::vector<Upload> gmc = server.Uploads("gmcmap");
    ASSERT_GE(gmc.size(), 3u);
    for (std::size_t k = 1; k < gmc.size(); ++k)
        EXPECT_GT(gmc[k].at - gmc[k - 1].at, 0.8) << k;
    EXPECT_EQ(errors.count("GMCmap: the service takes no time"), 1) << errors.toStdString();
    ExpectNoSecretPrinted(*run);
}

INSTANTIATE_TEST_SUITE_P(AlsoAcrossARestart, StationUploadsOutage, ::testing::Bool());

// Each way a service says no: a refused login stops that destination alone;
// "Too soon" and HTTP 429 slow down; HTTP 500 and a service that never
// answers are retried. Once they answer again, nothing recorded is missing.
TEST(StationUploads, RefusedSlowedAndFailedAnswers) {
    QTemporaryDir home;
    MapServer server(home);
    server.SetModes({{"radmon", "toosoon"},
                     {"safecast", "429"},
                     {"opensensemap", "500"},
                     {"openradiation", "hang"}});
    StationRun run(home, kFastSamples);
    run.Start(UploadArgs(home, UploadFile(home, server.Port(), "9999")));
    RunEventsFor(5000);
    server.SetModes({});
    ASSERT_TRUE(CaughtUp(server, 25000)) << run.Errors().toStdString();
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.Finished(10000));
    const QString errors = run.Errors();

    for (const char* line :
         {"radmon.org: Too soon; slowing down",
          "Safecast: HTTP 429 Too Many Requests; slowing down",
          "openSenseMap: cannot upload (HTTP 500", "OpenRadiation: cannot upload (",
          "openSenseMap: uploading again", "OpenRadiation: uploading again"})
        EXPECT_EQ(errors.count(line), 1) << line << "\n" << errors.toStdString();
    EXPECT_EQ(errors.count("GMCmap: the service refused the login (Error! User is not found.ERR1."),
              1)
        << errors.toStdString();
    EXPECT_TRUE(server.Uploads("gmcmap").empty());
    EXPECT_EQ(server.Errors(), QStringList{});
    const qint64 firstEnd = JournalIntervals(home).front().endMs;
    for (const QString& service : kTimed)
        ExpectEveryIntervalOnce(home, server, service, firstEnd);
    ExpectNoSecretPrinted(run);
}

TEST(StationUploads, BadUploadFileEndsWithOneClearLine) {
    QTemporaryDir home;
    WriteFile(home.filePath("key"), "k\n");
    struct Case {
        QByteArray text; // none: the file is missing
        QString message;
    };
    const std::vector<Case> cases = {
        {"[weather]\n", "upload.ini line 1: unknown section [weather]"},
        {"[radmon]\nuser = a\npassword-file = missing.pass\n",
         "line 3: cannot read the credential file"},
        {"[gmcmap]\naccount = 1\ncounter = 2\nurl = ftp://127.0.0.1/\n",
         "line 4: url must be an http:// or https:// address"},
        {"[safecast]\napi-key-file = key\nlatitude = 91\nlongitude = 8\n",
         "line 3: latitude must be a number from -90 to 90"},
        {"[radmon]\nuser = a\npassword-file = key\ninterval = 10\n",
         "line 4: interval 10 s is below radmon.org's minimum of 30 s"},
        {"[opensensemap]\nbox = 1\ntoken-file = key\n", "line 1: [opensensemap] needs sensor ="},
        {"[gmcmap]\naccount = 1\ncounter = 2\ncolour = red\n", "line 4: [gmcmap] has no key"},
        {"[openradiation]\napi-key-file = key\nlatitude = 1\nlongitude = 2\n"
         "measurement-environment = garden\n",
         "line 5: measurement-environment must be one of countryside, city, ontheroad, inside, "
         "plane"},
        {"[openradiation]\napi-key-file = key\nlatitude = 1\nlongitude = 2\n"
         "measurement-height = 1.5\n",
         "line 5: measurement-height must be a whole number of metres"},
        {{}, "cannot read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const QString file = home.filePath("upload.ini");
        QFile::remove(file);
        if (!c.text.isNull())
            WriteFile(file, c.text);
        StationRun run(home);
        run.Start(UploadArgs(home, file));
        ASSERT_TRUE(run.Finished(10000));
        const QString errors = run.Errors();
        EXPECT_EQ(run.process.exitCode(), 2) << errors.toStdString();
        EXPECT_TRUE(errors.contains("--upload: ") && errors.contains(c.message))
            << errors.toStdString();
        EXPECT_EQ(errors.count('\n'), 1) << errors.toStdString();
    }
}

} // namespace
} // namespace korvinet::station
