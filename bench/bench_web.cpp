// What the station's page asks of the history, made into the JSON the page
// gets, from a station that has run for ten years: a year of 3-second
// readings (10,512,000) after nine years of a reading every ten minutes, the journal's raw readings
// kept for its default 30 days, the summaries for the rest. Goals (Release-like build): the last
// hour as it is 20 ms; 24 hours in minutes, 30 days in half hours and a year in days 20 ms each;
// ten years in days 50 ms; the page's live poll (the last few seconds, answered on the event loop)
// 0.3 ms of CPU. Counters: the rows answered, the peak memory the requests took beyond what the
// process held (kB) and the store's size on disk (MB). The history is built once per process: its
// summaries made from the journal's files as at a first start, which `BM_HistoryRebuild` times.
#include "bench_memory.h"
#include "platform/clock.h"
#include "platform/regional.h"
#include "recording/history_database.h"
#include "recording/history_reader.h"
#include "recording/history_store.h"
#include "web/readings_query.h"
#include "web/station_routes.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

using namespace korvinet;

constexpr qint64 kSecondMs = 1000;
constexpr qint64 kDayMs = 86400 * kSecondMs;
constexpr int kOffsetSeconds = 3600; // the station keeps +01:00
constexpr int kKeepDays = 30;        // the journal's raw readings

// One journal sample line as the journal writes it, for the moment utcMs.
void AppendSample(QByteArray* text, qint64 utcMs, int i) {
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(utcMs + kOffsetSeconds * kSecondMs, Qt::UTC);
    const double value = 0.010 + (i % 17) * 0.001;
    char line[128];
    const int n = std::snprintf(line, sizeof line,
                                "%sT%02d:%02d:%02d.000+01:00,%.3f,2,%.1f,3,3000,%d,%.3f,%.3f\n",
                                local.date().toString(Qt::ISODate).toLatin1().constData(),
                                local.time().hour(), local.time().minute(), local.time().second(),
                                value, value * 600, i % 97 == 0 ? 1 : 0, value * 0.6, value * 1.6);
    text->append(line, n);
}

struct Station {
    QTemporaryDir dir;
    qint64 endUtcMs = 0; // just after the last reading
    std::unique_ptr<HistoryStore> store;
    double rebuildSeconds = 0.0;
    double storeMb = 0.0;

    Station() {
        const qint64 yearStart =
            QDateTime(QDate(2025, 12, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() -
            kOffsetSeconds * kSecondMs;
        const qint64 tenYearsStart = yearStart - 9 * 365 * kDayMs;
        endUtcMs = yearStart + 365 * kDayMs;
        // Day files by local day.
        QByteArray text;
        QDate day;
        const auto flush = [&] {
            if (text.isEmpty())
                return;
            QFile file(dir.filePath(day.toString(Qt::ISODate) + QStringLiteral(".samples")));
            if (file.open(QIODevice::WriteOnly))
                file.write(text);
            text.clear();
        };
        int i = 0;
        for (qint64 t = tenYearsStart; t < endUtcMs; t += t < yearStart ? 600000 : 3000, ++i) {
            const QDate d =
                QDateTime::fromMSecsSinceEpoch(t + kOffsetSeconds * kSecondMs, Qt::UTC).date();
            if (d != day) {
                flush();
                day = d;
                text = "# time,value,unit,cpm,counts,interval_ms,alarm,band_low,band_high\n";
            }
            AppendSample(&text, t, i);
        }
        flush();

        QElapsedTimer rebuild;
        rebuild.start();
        store = std::make_unique<HistoryStore>(dir.path());
        QString why;
        if (!store->Open(endUtcMs, &why))
            std::fprintf(stderr, "the history cannot be kept: %s\n", qPrintable(why));
        rebuildSeconds = rebuild.elapsed() / 1000.0;
        // As the journal keeps them: the raw readings of the last 30 days.
        const QDate oldestKept =
            QDateTime::fromMSecsSinceEpoch(endUtcMs, Qt::UTC).date().addDays(-kKeepDays);
        for (const QString& name : QDir(dir.path()).entryList({QStringLiteral("*.samples")}))
            if (QDate::fromString(name.chopped(8), Qt::ISODate) < oldestKept)
                QFile::remove(dir.filePath(name));
        for (const char* suffix : {"", "-wal"})
            storeMb +=
                QFileInfo(HistoryDatabase::PathIn(dir.path()) + QLatin1String(suffix)).size() / 1e6;
    }
};

Station& TenYearStation() {
    static Station station;
    return station;
}

// range(0): the span in hours; range(1): the step in seconds (0: every
// reading).
void BM_History(benchmark::State& state) {
    Station& station = TenYearStation();
    web::ReadingsQuery query;
    query.toUtcMs = station.endUtcMs;
    query.fromUtcMs = query.toUtcMs - state.range(0) * 3600 * kSecondMs;
    query.stepSeconds = static_cast<int>(state.range(1));
    const std::optional<web::AlarmLevel> alarm = web::AlarmLevel{0.02, 2};
    std::size_t rows = 0;
    bench::ResetPeakMemory();
    const long before = bench::MemoryKb("VmRSS:");
    for (auto _ : state) {
        const HistoryReader history(station.dir.path(), station.store->Live());
        const web::ReadingsPage page = web::ReadReadings(history, query, 10000);
        benchmark::DoNotOptimize(web::ReadingsJson(page, query.stepSeconds, alarm));
        rows = page.rows.size();
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["peak_kB"] = static_cast<double>(bench::MemoryKb("VmHWM:") - before);
    state.counters["store_MB"] = station.storeMb;
}
BENCHMARK(BM_History)
    ->Args({1, 0})             // the last hour, every reading
    ->Args({24, 60})           // 24 hours in minutes
    ->Args({30 * 24, 1800})    // 30 days in half hours
    ->Args({365 * 24, 86400})  // a year in days
    ->Args({3650 * 24, 86400}) // ten years in days
    ->Unit(benchmark::kMillisecond);

// The page's live poll: the readings from the last one it has on (it and
// one new one), the whole request as the station answers it on its event
// loop.
void BM_HistoryLivePoll(benchmark::State& state) {
    Station& station = TenYearStation();
    struct : web::StatusSource {
        web::StationStatus Status() const override { return {}; }
    } source;
    ManualClock clock(0, LocalDateTime(station.endUtcMs, 0));
    clock.SetUtcOffset(0);
    const Regional regional{QLocale::c()};
    const web::StationRoutes routes(source, station.dir.path(), station.store->Live(), clock,
                                    regional);
    const QString from = QDateTime::fromMSecsSinceEpoch(station.endUtcMs - 6 * kSecondMs, Qt::UTC)
                             .toString(Qt::ISODateWithMs);
    const web::HttpRequest poll{"GET", "/api/readings", {{QStringLiteral("from"), from}}};
    std::size_t bytes = 0;
    for (auto _ : state) {
        const web::HttpAnswer answer = routes.Answer(poll);
        if (answer.later) {
            state.SkipWithError("the live poll was not answered from memory");
            break;
        }
        bytes = answer.now.body.size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HistoryLivePoll)->Unit(benchmark::kMicrosecond);

// The first start beside a journal: the summaries made from ten years of
// .samples files (10.98 million readings), timed once when the history was
// built.
void BM_HistoryRebuild(benchmark::State& state) {
    Station& station = TenYearStation();
    for (auto _ : state)
        benchmark::DoNotOptimize(station.rebuildSeconds);
    state.counters["rebuild_s"] = station.rebuildSeconds;
    state.counters["store_MB"] = station.storeMb;
}
BENCHMARK(BM_HistoryRebuild)->Iterations(1);

} // namespace
