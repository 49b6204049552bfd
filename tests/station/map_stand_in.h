#pragma once

// The five maps played by one local server (tests/maps/map_services_server.py)
// that answers every request as the service's own server does, and what the
// station's uploads to it are checked against. The station samples every
// 50 ms, which shortens the services' 60-s intervals to 1 s; the counter
// counts 100 a second, so each interval has as many hits as a real hour's.
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
#include <vector>

namespace korvinet::station {

inline constexpr qint64 kIntervalMs = 1000;
inline const QStringList kFastSamples = {QStringLiteral("KORVINET_STATION_SAMPLE_MS=50"),
                                         QStringLiteral("KORVINET_SIM_CPM=6000")};
inline const QStringList kTimed = {"radmon", "safecast", "opensensemap", "openradiation"};

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
          port_(korvinet::testing::UnusedPort()) {
        Start();
    }
    void Start() {
        server_.emplace(QStringLiteral("python3"),
                        QStringList{korvinet::testing::TestScript("maps/map_services_server.py"),
                                    "--port", QString::number(port_), "--log", log_, "--modes",
                                    modes_, "--radmon-gap", "0.3"});
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
    std::optional<korvinet::testing::ScriptServer> server_;
};

inline void WriteFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// An upload file for all five services on the map server, every interval 60 s.
inline QString UploadFile(const QTemporaryDir& home, int port,
                          const QByteArray& gmcAccount = "1234") {
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

inline QStringList UploadArgs(const QTemporaryDir& home, const QString& uploadFile) {
    return JournalArgs(home) + QStringList{"--upload", uploadFile};
}

// Every interval the journal holds samples for.
inline std::vector<maps::IntervalMean> JournalIntervals(const QTemporaryDir& home) {
    return maps::NextIntervals(maps::JournalSamples(home.filePath("journal")), 0,
                               std::numeric_limits<qint64>::max(), kIntervalMs, 1000000);
}

// The service received every recorded interval from its first upload to its
// last, each once, in order, with the interval's mean count rate.
inline void ExpectEveryIntervalOnce(const QTemporaryDir& home, const MapServer& server,
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
            // a report of a whole interval with a real hour's hits (it wants
            // more than 78). A counter that reports once a second (Rad Pro)
            // may leave an interval of the test's short ones without any.
            EXPECT_EQ(uploads[k].hits, qint64(expected[k].counts));
            EXPECT_EQ(uploads[k].spanMs, qint64(expected[k].liveMs));
            if (expected[k].liveMs >= kIntervalMs * 9 / 10 && expected[k].counts >= 30) {
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
inline bool CaughtUp(const MapServer& server, int timeoutMs) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 target = now - now % kIntervalMs;
    return korvinet::testing::WaitUntil(
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

} // namespace korvinet::station
