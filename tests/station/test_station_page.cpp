// The page in headless Chromium on the station's own routes (the page's
// files, the status, the history of a journal the real RecordingJournal
// writes), the station's clock at +05:30 and the browser's at UTC, looked at
// on the drawn chart.
#include "files/data_file.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "recording/recording_journal.h"
#include "support/wait_events.h"
#include "web/http_server.h"
#include "web/station_routes.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>

namespace korvinet::station {
namespace {

constexpr int kOffset = 5 * 3600 + 1800; // +05:30

qint64 Hours(double h) {
    return static_cast<qint64>(h * 3600000);
}

// page_probe.py --commands: one command and answer at a time, with Qt events
// dispatched meanwhile for the server on this thread.
struct Page {
    Page() { probe.start("python3", {KORVINET_PAGE_PROBE, "--commands", "1366", "900"}); }
    ~Page() {
        probe.closeWriteChannel();
        if (!probe.waitForFinished(10000))
            probe.kill();
    }
    QJsonObject Run(const QJsonObject& command) {
        probe.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        korvinet::testing::WaitUntil(
            [this] { return probe.canReadLine() || probe.state() == QProcess::NotRunning; }, 60000);
        const QJsonObject answer = QJsonDocument::fromJson(probe.readLine()).object();
        EXPECT_TRUE(!answer.isEmpty() && !answer.contains("error"))
            << QJsonDocument(command).toJson().toStdString()
            << QJsonDocument(answer).toJson().toStdString();
        return answer;
    }
    QJsonValue Eval(const QString& js) { return Run({{"eval", js}})["value"]; }
    bool Wait(const QString& js) { return Run({{"wait", js}})["ok"].toBool(); }
    QString Text(const char* id) {
        return Eval(QStringLiteral("document.getElementById('%1').textContent").arg(id)).toString();
    }
    int Chart(const char* field) {
        return Eval(QStringLiteral("+document.getElementById('chart').dataset.%1").arg(field))
            .toInt();
    }

    QProcess probe;
};

// A station's journal from 00:00 on 2026-03-10: a reading every 30 s until
// 14:00 but for 04:00 to 10:00, then every 3 s (the default sampling) but for
// 14:30:00 to 14:30:30, until 15:00:03; served on 127.0.0.1 with the status
// the station gives.
struct Station : web::StatusSource {
    Station() {
        clock.SetUtcOffset(kOffset);
        const double first =
            platform::DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(start, QTimeZone(kOffset)));
        EXPECT_TRUE(journal.Start(first, first).ok);
        for (qint64 ms = start; ms <= start + Hours(15) + 5000;
             ms += ms < start + Hours(14) ? 30000 : 3000) {
            const qint64 since = ms - start;
            if ((since < Hours(4) || since >= Hours(10)) &&
                (since < Hours(14.5) || since >= Hours(14.5) + 30000))
                Take(ms);
        }
        QString error;
        EXPECT_TRUE(server->Listen({}, &error)) << error.toStdString();
    }
    // Readings every 3 s for that many seconds more.
    void Pass(int seconds) {
        for (int i = 3; i <= seconds; i += 3)
            Take(taken.back().utcMs + 3000);
    }
    void Take(qint64 utcMs) {
        const qint64 s = utcMs / 1000;
        device::Reading r;
        r.time =
            platform::DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone(kOffset)));
        r.utcOffsetSeconds = kOffset;
        r.value = std::round(100 + 20 * std::sin(s / 900.0) + s % 13 - 6) / 1000;
        r.cpm = r.value * 600;
        r.counts = static_cast<std::uint32_t>(s % 7);
        r.intervalMs = utcMs < start + Hours(14) ? 30000 : 3000; // the sampling period
        r.band = device::RateBand{{r.value - 0.03, false}, {r.value + 0.03, false}};
        ASSERT_TRUE(journal.Append(r).ok);
        taken.push_back({r, utcMs});
        clock.SetNow(r.time);
    }
    web::StationStatus Status() const override {
        web::StationStatus s;
        s.serial = QStringLiteral("KV200002");
        s.model = QStringLiteral("KVT-PULSE1");
        s.version = QStringLiteral("1.0.3.0");
        s.counter = web::CounterState::Connected;
        s.latest = taken.back();
        s.readingsTaken = static_cast<long long>(taken.size());
        s.alarmLevel = 0.13;
        s.utcOffsetSeconds = 19800;                            // +05:30, as its readings were taken
        s.conversion = measure::RateConversion{0.0, 600.0, 2}; // 1 µSv/h is 60 counts a minute
        return s;
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server->Port()); }

    const qint64 start =
        QDateTime(QDate(2026, 3, 10), QTime(0, 0), QTimeZone(kOffset)).toMSecsSinceEpoch();
    std::vector<device::TimedReading> taken;
    // In memory: the journal syncs each reading, and the disk is no subject here.
    QTemporaryDir dir{QStringLiteral("/dev/shm/korvinet-page-XXXXXX")};
    platform::Regional regional{QLocale::c()};
    recording::RecordingJournal journal{dir.filePath("journal"), regional};
    platform::ManualClock clock;
    web::StationRoutes routes{*this, dir.filePath("journal"), nullptr, clock, regional};
    std::unique_ptr<web::HttpServer> server = std::make_unique<web::HttpServer>(
        [this](const web::HttpRequest& r) { return routes.Answer(r); });
};

QString Artefact(const char* name) {
    QDir().mkpath(KORVINET_TEST_ARTEFACTS);
    return QDir(KORVINET_TEST_ARTEFACTS).filePath(name);
}

// Through a day of a station's journal and readings taken live:
// - the times are the station's, the dose of the day its counts through the
//   calibration, and the hour downloaded a data file the window's reader
//   opens, its last reading at the time the page shows;
// - outages are not drawn across, neither the 30 s one in the last hour
//   (each reading) nor the 6 hours in the 24 (means of a minute), while the
//   readings on either side are;
// - in the 24 hours, readings taken live fold into the newest mean until its
//   minute is over, then begin the next;
// - dragging across 11:00 to 12:00 shows every reading of that hour until
//   the zoom is reset;
// - once the station cannot be reached, the alarm and the tab's title say
//   unknown.
// Prints the weight of the first load and when the chart first drew; keeps
// screenshots at 1366 and 360 px.
TEST(StationPage, FollowsAStationsDayAtItsTime) {
    Station station;
    Page page;
    page.Run({{"go", station.Url()}});
    ASSERT_TRUE(page.Wait("document.getElementById('today').textContent")); // all loaded
    std::printf(
        "[ figures  ] first load %d bytes, first paint after %d ms, %d points drawn "
        "after %d ms\n",
        page.Eval("performance.getEntries().reduce((n, e) => n + (e.transferSize || 0), 0)")
            .toInt(),
        page.Eval("performance.getEntriesByName('first-contentful-paint')[0].startTime").toInt(),
        page.Chart("points"), page.Eval("+document.body.dataset.firstRenderMs").toInt());
    EXPECT_EQ(page.Text("taken"), "Taken 15:00:03 UTC+05:30");
    double counts = 0;
    for (const device::TimedReading& t : station.taken)
        counts += t.reading.counts;
    EXPECT_EQ(page.Text("today"), "Dose today " + QString::number(counts / 3600, 'g', 3) +
                                      " \u00b5Sv (since 00:00 UTC+05:30)");
    const QDir downloads(station.dir.filePath("downloads"));
    page.Run({{"downloads", downloads.path()}});
    page.Run({{"click", "#download"}});
    ASSERT_TRUE(
        korvinet::testing::WaitUntil([&] { return downloads.entryList({"*.csv"}).size(); }, 10000));
    files::DataFileReader reader(station.regional);
    files::DataFileContents file;
    ASSERT_TRUE(reader.Open(downloads.filePath(downloads.entryList({"*.csv"})[0])));
    ASSERT_TRUE(reader.Read({"CPM", "mR/hr"}, &file));
    EXPECT_EQ(static_cast<int>(file.points.size()), page.Chart("points"));
    EXPECT_EQ(file.points.back().value, station.taken.back().reading.value);
    EXPECT_EQ(platform::QtFromDateTime(file.points.back().time).toString("HH:mm:ss"), "15:00:03");

    // Where an hour of the day is on the chart; the chart's bluish pixels
    // (line and band; the grid is grey, the alarm red) between two hours.
    const QString x = QStringLiteral("const el = document.getElementById('chart'), o = "
                                     "el.querySelector('.u-over'), x = (h) => o.offsetLeft + (%1 "
                                     "+ h * 3600000 - el.dataset.from) / (el.dataset.to - "
                                     "el.dataset.from) * o.offsetWidth;")
                          .arg(station.start);
    const auto drawn = [&](double from, double to) {
        return page
            .Eval(QStringLiteral("(() => { %1 const a = Math.ceil(x(%2)), d = el.querySelector("
                                 "'canvas').getContext('2d').getImageData(a, o.offsetTop, "
                                 "Math.floor(x(%3)) - a + 1, o.offsetHeight).data; let n = 0; for "
                                 "(let i = 0; i < d.length; i += 4) n += d[i + 2] - d[i] > 12; "
                                 "return n; })()")
                      .arg(x)
                      .arg(from)
                      .arg(to))
            .toInt();
    };
    const double s = 1 / 3600.0;
    EXPECT_EQ(drawn(14.5 + 2 * s, 14.5 + 28 * s), 0);
    EXPECT_GT(drawn(14.5 - 60 * s, 14.5 - 30 * s), 20);
    EXPECT_GT(drawn(14.5 + 32 * s, 14.5 + 60 * s), 20);
    page.Run({{"click", "#spans [data-span='86400']"}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '60'"));
    EXPECT_EQ(drawn(4.1, 9.9), 0);
    EXPECT_GT(drawn(3, 3.9), 20);
    EXPECT_GT(drawn(10.1, 11), 20);
    page.Run({{"shot", Artefact("station-page-1366.png")}});

    const int points = page.Chart("points");
    // The newest mean as the chart tells it under the mouse, and as it is.
    const auto newest = [&] {
        const QJsonArray at = page.Eval("(r => [r.right - 1, r.top + 100])(document.querySelector("
                                        "'#chart .u-over').getBoundingClientRect())")
                                  .toArray();
        page.Run({{"hover", QJsonArray{at[0].toDouble() - 80, at[1]}}});
        page.Run({{"hover", at}});
        return page.Text("readout");
    };
    const auto mean = [&](const char* minute) {
        double sum = 0;
        int n = 0;
        for (const device::TimedReading& t : station.taken) {
            const bool in = platform::QtFromDateTime(t.reading.time).toString("HH:mm") == minute;
            sum += in ? t.reading.value : 0;
            n += in;
        }
        return QStringLiteral("2026-03-10 %1:00 UTC+05:30: %2 mR/hr (mean of %3 readings")
            .arg(minute)
            .arg(sum / n, 0, 'f', 3)
            .arg(n);
    };
    EXPECT_TRUE(newest().startsWith(mean("15:00"))) << newest().toStdString();
    station.Pass(21);
    ASSERT_TRUE(page.Wait("document.getElementById('taken').textContent.includes('15:00:24')"));
    EXPECT_EQ(page.Chart("points"), points);
    EXPECT_TRUE(newest().startsWith(mean("15:00"))) << newest().toStdString();
    station.Pass(60);
    ASSERT_TRUE(page.Wait("document.getElementById('taken').textContent.includes('15:01:24')"));
    EXPECT_EQ(page.Chart("points"), points + 1);
    EXPECT_TRUE(newest().startsWith(mean("15:01"))) << newest().toStdString();
    EXPECT_TRUE(page.Text("stats").startsWith("2026-03-10 15:01:24 UTC+05:30\n"))
        << page.Text("stats").toStdString();
    EXPECT_TRUE(page.Text("caption").startsWith("Means of 1 minute, mR/hr"));

    const QJsonArray drag = page.Eval("(() => { " + x +
                                      " const r = o.getBoundingClientRect(), left = r.left - "
                                      "o.offsetLeft; return [left + x(11), r.top + 100, left + "
                                      "x(12)]; })()")
                                .toArray();
    page.Run({{"drag", drag}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '0'"));
    EXPECT_NEAR(page.Chart("points"), 120, 6);
    page.Run({{"click", "#reset"}});
    EXPECT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '60'"));
    page.Run({{"size", QJsonArray{360, 1280}}});
    page.Run({{"wait", "false"}, {"seconds", 1}}); // the chart fits itself to the width
    page.Run({{"shot", Artefact("station-page-360.png")}});

    station.server.reset();
    EXPECT_TRUE(page.Wait("document.title.startsWith('Unknown \u2013 Korvinet KV200002') && "
                          "document.getElementById('alarm').textContent === 'Alarm unknown'"));
}

} // namespace
} // namespace korvinet::station
