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
#include "history_station.h"
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
using namespace korvinet::bench;

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
        const recording::HistoryReader history(station.dir.path(), station.store->Live());
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
    platform::ManualClock clock(0, recording::LocalDateTime(station.endUtcMs, 0));
    clock.SetUtcOffset(0);
    const platform::Regional regional{QLocale::c()};
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
