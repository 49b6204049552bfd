// The page in headless Chromium against a stand-in for the station's API:
// the real routes serve the page's files, and /api/status and /api/readings
// answer canned readings as the station answers them (the real JSON of a
// status and a reading, gap rows and stepped alarm counts as README gives
// the API), so that outages, means followed live and the station's time
// zone can be looked at on the drawn chart, with the station's clock far
// from the browser's.
#include "page_probe.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "web/http_server.h"
#include "web/readings_query.h"
#include "web/station_routes.h"

#include <QDir>
#include <QJsonArray>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>

namespace korvinet::station {
namespace {

using web::HttpAnswer;
using web::HttpRequest;
using web::HttpResponse;

constexpr int kOffsetSeconds = 5 * 3600 + 1800; // +05:30
constexpr double kAlarmLevel = 0.13;

qint64 Hours(double h) {
    return static_cast<qint64>(h * 3600000);
}

// A reading a second from 00:00 on 2026-03-10 at +05:30 for 15 hours, but
// for 6 hours from 04:00 and 30 s from 14:30; readings are taken in as the
// test lets time pass.
class CannedStation : public web::StatusSource {
public:
    CannedStation() {
        const qint64 start = QDateTime(QDate(2026, 3, 10), QTime(0, 0), QTimeZone(kOffsetSeconds))
                                 .toMSecsSinceEpoch();
        for (qint64 ms = start; ms < start + Hours(16); ms += 1000) {
            const qint64 since = ms - start;
            if ((since >= Hours(4) && since < Hours(10)) ||
                (since >= Hours(14.5) && since < Hours(14.5) + 30000))
                continue;
            const double i = static_cast<double>(since / 1000);
            TimedReading t;
            t.utcMs = ms;
            Reading& r = t.reading;
            r.time = DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(kOffsetSeconds)));
            r.utcOffsetSeconds = kOffsetSeconds;
            r.value =
                std::round((0.1 + 0.02 * std::sin(i / 900) +
                            0.001 * static_cast<double>(static_cast<qint64>(i) * 7919 % 13 - 6)) *
                           1000) /
                1000;
            r.cpm = r.value * 600;
            r.counts = static_cast<std::uint32_t>(r.cpm / 60 + 0.5);
            r.intervalMs = 1000;
            r.band = RateBand{{r.value - 0.03, false}, {r.value + 0.03, false}};
            all.push_back(t);
            if (since <= Hours(15) + 5000)
                taken = all.size(); // until 15:00:05
        }
    }

    // Lets seconds pass: the readings of that time are taken.
    void Pass(int seconds) {
        const qint64 until = all[taken - 1].utcMs + seconds * 1000LL;
        while (taken < all.size() && all[taken].utcMs <= until)
            ++taken;
    }
    const TimedReading& Latest() const { return all[taken - 1]; }

    web::StationStatus Status() const override {
        web::StationStatus s;
        s.serial = QStringLiteral("KV200002");
        s.model = QStringLiteral("KVT-PULSE1");
        s.version = QStringLiteral("1.0.3.0");
        s.averagingTime = QStringLiteral("45 seconds");
        s.sampleMs = 1000;
        s.counter = web::CounterState::Connected;
        s.latest = Latest();
        s.readingsTaken = static_cast<long long>(taken);
        s.alarmLevel = kAlarmLevel;
        s.conversion = RateConversion{0.0, 600.0, 2};
        return s;
    }

    HttpResponse StatusAnswer() const {
        QJsonObject o = QJsonDocument::fromJson(web::StatusJson(Status())).object();
        o.insert(QStringLiteral("first_reading"),
                 IsoLocalTimeText(MomentOf(all.front().reading), true));
        o.insert(QStringLiteral("utc_offset"), QStringLiteral("+05:30"));
        return Json(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }

    // The readings of a range, each or as means of steps on the grid from
    // `from`, and a gap row where none came for longer than two periods.
    HttpResponse ReadingsAnswer(const HttpRequest& request) const {
        QString why;
        const auto q = web::ParseReadingsQuery(request, Latest().utcMs + 500, &why);
        if (!q)
            return web::PlainResponse(400, why);
        std::vector<std::pair<qint64, QJsonObject>> rows;
        const TimedReading* before = nullptr;
        struct Step {
            qint64 start = 0;
            std::vector<const TimedReading*> readings;
        } step;
        const auto endStep = [&] {
            if (!step.readings.empty())
                rows.emplace_back(step.start, MeanRow(step.start, step.readings));
            step.readings.clear();
        };
        for (std::size_t i = 0; i < taken; ++i) {
            const TimedReading& t = all[i];
            if (t.utcMs < q->fromUtcMs || t.utcMs >= q->toUtcMs)
                continue;
            if (before && t.utcMs - before->utcMs > 2000)
                rows.emplace_back(
                    before->utcMs + 1000,
                    QJsonObject{{"time", IsoText(before->utcMs + 1000)}, {"gap", true}});
            before = &t;
            if (!q->stepSeconds) {
                rows.emplace_back(t.utcMs, web::ReadingJson(t));
                continue;
            }
            const qint64 stepMs = q->stepSeconds * 1000LL;
            const qint64 start = q->fromUtcMs + (t.utcMs - q->fromUtcMs) / stepMs * stepMs;
            if (start != step.start)
                endStep();
            step.start = start;
            step.readings.push_back(&t);
        }
        endStep();
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        QJsonArray array;
        for (const auto& row : rows)
            array.append(row.second);
        return Json(QJsonDocument(array).toJson(QJsonDocument::Compact));
    }

    static QString IsoText(qint64 utcMs) {
        return IsoLocalTimeText(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone(kOffsetSeconds)),
                                true);
    }
    static double Mean(const std::vector<const TimedReading*>& readings) {
        double sum = 0;
        for (const TimedReading* t : readings)
            sum += t->reading.value;
        return sum / static_cast<double>(readings.size());
    }

    std::vector<TimedReading> all;
    std::size_t taken = 0;

private:
    static QJsonObject MeanRow(qint64 start, const std::vector<const TimedReading*>& readings) {
        TimedReading row = *readings.front();
        row.utcMs = start;
        row.reading.time =
            DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(start, QTimeZone(kOffsetSeconds)));
        Reading& r = row.reading;
        r.value = Mean(readings);
        double low = 0, high = 0, min = r.value, max = r.value;
        int alarms = 0;
        r.counts = 0;
        r.intervalMs = 0;
        for (const TimedReading* t : readings) {
            low += t->reading.band->low.value;
            high += t->reading.band->high.value;
            min = std::min(min, t->reading.value);
            max = std::max(max, t->reading.value);
            r.counts += t->reading.counts;
            r.intervalMs += t->reading.intervalMs;
            alarms += t->reading.value > kAlarmLevel;
        }
        const double n = static_cast<double>(readings.size());
        r.band = RateBand{{low / n, false}, {high / n, false}};
        r.alarm = r.value > kAlarmLevel;
        QJsonObject o = web::ReadingJson(row);
        o.insert("n", static_cast<int>(readings.size()));
        o.insert("min", min);
        o.insert("max", max);
        o.insert("alarm_count", alarms);
        return o;
    }
    static HttpResponse Json(const QByteArray& body) {
        HttpResponse response;
        response.contentType = "application/json";
        response.body = body;
        return response;
    }
};

// Serves the stand-in's API and the real page on a free port of 127.0.0.1.
struct PageServer {
    PageServer() {
        server = std::make_unique<web::HttpServer>([this](const HttpRequest& r) -> HttpAnswer {
            if (r.path == "/api/status")
                return {canned.StatusAnswer(), {}};
            if (r.path == "/api/readings")
                return {canned.ReadingsAnswer(r), {}};
            return routes.Answer(r);
        });
        QString error;
        EXPECT_TRUE(server->Listen({}, &error)) << error.toStdString();
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server->Port()); }

    CannedStation canned;
    ManualClock clock;
    Regional regional;
    web::StationRoutes routes{canned, QString(), clock, regional};
    std::unique_ptr<web::HttpServer> server;
};

// Counts the chart's bluish pixels (the line and the band; the grid is grey
// and the alarm red) in the plot between two moments, seconds since 1970.
const QString kDrawnBetween = QStringLiteral(
    "((a, b) => { const el = document.getElementById('chart');"
    " const over = el.querySelector('.u-over'), from = el.dataset.from / 1000,"
    " to = el.dataset.to / 1000, x = (t) => over.offsetLeft + (t - from) / (to - from) *"
    " over.offsetWidth, x0 = Math.ceil(x(a)), x1 = Math.floor(x(b));"
    " if (x1 < x0) return -1;"
    " const d = el.querySelector('canvas').getContext('2d').getImageData(x0, over.offsetTop,"
    " x1 - x0 + 1, over.offsetHeight).data; let n = 0;"
    " for (let i = 0; i < d.length; i += 4) n += d[i + 2] - d[i] > 12; return n; })(%1, %2)");

QString Artefact(const QString& name) {
    QDir().mkpath(QStringLiteral(KORVINET_TEST_ARTEFACTS));
    return QDir(QStringLiteral(KORVINET_TEST_ARTEFACTS)).filePath(name);
}

// Outages are not drawn across: neither the 30 s one in the last hour (each
// reading) nor the 6 hours in the last 24 (means of a minute), while the
// readings on either side are drawn. Dragging across 11:00 to 12:00 shows
// every reading of that hour, until the zoom is reset. Screenshots of both
// widths, and dark with a log scale.
TEST(StationPage, OutagesAreGapsInTheChart) {
    PageServer station;
    const qint64 start = station.canned.all.front().utcMs;
    PageProbe page(1366, 900);
    page.Run({{"go", station.Url()}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.points > 3000"));
    const auto drawn = [&](qint64 fromMs, qint64 toMs) {
        return page
            .Eval(kDrawnBetween.arg(fromMs / 1000.0, 0, 'f', 3).arg(toMs / 1000.0, 0, 'f', 3))
            .toInt();
    };
    const qint64 shortGap = start + Hours(14.5);
    EXPECT_EQ(drawn(shortGap + 2000, shortGap + 28000), 0);
    EXPECT_GT(drawn(shortGap - 60000, shortGap - 30000), 20);
    EXPECT_GT(drawn(shortGap + 32000, shortGap + 60000), 20);

    page.Run({{"click", "#spans [data-span='86400']"}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '60'"));
    EXPECT_EQ(drawn(start + Hours(4.1), start + Hours(9.9)), 0);
    EXPECT_GT(drawn(start + Hours(3), start + Hours(3.9)), 20);
    EXPECT_GT(drawn(start + Hours(10.1), start + Hours(11)), 20);
    page.Run({{"shot", Artefact(QStringLiteral("station-page-1366.png"))}});

    const QString x = QStringLiteral(
        "(() => { const el = document.getElementById('chart'), r = el.querySelector('.u-over')"
        ".getBoundingClientRect(); return [r.left + (%1 - el.dataset.from) / (el.dataset.to - "
        "el.dataset.from) * r.width, r.top + r.height / 2]; })()");
    const QJsonArray from = page.Eval(x.arg(start + Hours(11))).toArray();
    const QJsonArray to = page.Eval(x.arg(start + Hours(12))).toArray();
    page.Run({{"drag", QJsonArray{from[0], from[1], to[0]}}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '0'"));
    EXPECT_NEAR(page.Eval("Number(document.getElementById('chart').dataset.from)").toDouble(),
                static_cast<double>(start + Hours(11)), 120000);
    EXPECT_NEAR(page.Eval("Number(document.getElementById('chart').dataset.points)").toInt(), 3600,
                300);
    page.Run({{"click", "#reset"}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '60'"));

    page.Run({{"size", QJsonArray{360, 1280}}});
    page.Run({{"wait", "false"}, {"seconds", 1}}); // the chart fits itself to the width
    page.Run({{"shot", Artefact(QStringLiteral("station-page-360.png"))}});
    page.Run({{"dark", true}});
    page.Run({{"click", "#log"}});
    page.Run({{"wait", "false"}, {"seconds", 1}});
    page.Run({{"shot", Artefact(QStringLiteral("station-page-360-dark-log.png"))}});
}

// In the 24 hours (means of a minute) readings taken live fold into the
// newest mean until its minute is over, then begin the next; the times are
// the station's at +05:30 while the browser is elsewhere. Once the station
// cannot be reached, the alarm and the tab's title say unknown.
TEST(StationPage, MeansFollowLiveStepByStep) {
    PageServer station;
    PageProbe page(1366, 900);
    page.Run({{"go", station.Url()}});
    ASSERT_TRUE(page.Wait("document.body.dataset.firstRenderMs")); // laid out: the click lands
    page.Run({{"click", "#spans [data-span='86400']"}});
    ASSERT_TRUE(page.Wait("document.getElementById('chart').dataset.step === '60'"));
    const int points = page.Eval("Number(document.getElementById('chart').dataset.points)").toInt();
    const auto newestMean = [&] {
        const QJsonArray at = page.Eval("(() => { const r = document.querySelector('#chart "
                                        ".u-over').getBoundingClientRect(); return [r.right - 1, "
                                        "r.top + r.height / 2]; })()")
                                  .toArray();
        page.Run({{"hover", QJsonArray{at[0].toDouble() - 80, at[1]}}});
        page.Run({{"hover", at}});
        return page.Text("readout");
    };
    const auto expected = [&](const char* minute) {
        std::vector<const TimedReading*> readings;
        for (std::size_t i = 0; i < station.canned.taken; ++i) {
            const TimedReading& t = station.canned.all[i];
            if (CannedStation::IsoText(t.utcMs).startsWith(QLatin1String(minute)))
                readings.push_back(&t);
        }
        return QStringLiteral("%1:00 UTC+05:30: %2 mR/hr (mean of %3 readings")
            .arg(QString::fromLatin1(minute).replace('T', ' '))
            .arg(CannedStation::Mean(readings), 0, 'f', 3)
            .arg(readings.size());
    };
    EXPECT_TRUE(newestMean().startsWith(expected("2026-03-10T15:00")));
    // Every reading is of today and in the span: 1 µSv/h is 60 counts a minute
    // on this counter of 600 CPM per mR/hr, without dead time.
    double counts = 0;
    for (std::size_t i = 0; i < station.canned.taken; ++i)
        counts += station.canned.all[i].reading.counts;
    const QString dose = QString::number(counts / 3600, 'g', 3) + " \u00b5Sv";
    ASSERT_TRUE(page.Wait("document.getElementById('today').textContent.startsWith('Dose today " +
                          dose + " ')"))
        << page.Text("today").toStdString() << " " << dose.toStdString();
    EXPECT_TRUE(page.Text("stats").endsWith("Dose:      " + dose))
        << page.Text("stats").toStdString();

    const QString takenIs = QStringLiteral("document.getElementById('taken').textContent"
                                           ".startsWith('Taken %1 UTC+05:30')");
    station.canned.Pass(20); // 15:00:25
    ASSERT_TRUE(page.Wait(takenIs.arg("15:00:25")));
    EXPECT_EQ(page.Eval("Number(document.getElementById('chart').dataset.points)").toInt(), points);
    EXPECT_TRUE(newestMean().startsWith(expected("2026-03-10T15:00")));
    station.canned.Pass(60); // 15:01:25, fetched as the readings missed
    ASSERT_TRUE(page.Wait(takenIs.arg("15:01:25")));
    EXPECT_EQ(page.Eval("Number(document.getElementById('chart').dataset.points)").toInt(),
              points + 1);
    EXPECT_TRUE(newestMean().startsWith(expected("2026-03-10T15:01")));
    EXPECT_TRUE(page.Text("stats").startsWith("2026-03-10 15:01:25 UTC+05:30\n"))
        << page.Text("stats").toStdString();
    EXPECT_TRUE(page.Text("caption").startsWith("Means of 1 minute, mR/hr, at the station"));

    station.server.reset();
    EXPECT_TRUE(page.Wait("document.title.startsWith('Unknown \\u2013 Korvinet KV200002') && "
                          "document.getElementById('alarm').textContent === 'Alarm unknown'",
                          15));
}

} // namespace
} // namespace korvinet::station
