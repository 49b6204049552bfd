// What the station's page asks of the journal when a span is chosen: the
// readings of the last hour as they are, and the last 30 days in 30-minute
// means, read from a month of 3-second readings (864,000 sample lines) and
// made into the JSON the page gets. Goals (Release build): an hour under
// 100 ms and a month under 1 s, so a span appears at once on the page; the
// reads run beside the measurement, not in its way.
#include "device/reading.h"
#include "platform/datetime.h"
#include "recording/journal_reader.h"
#include "web/readings_query.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using namespace korvinet;

constexpr int kDays = 30;
constexpr int kPerDay = 28800; // one reading every 3 s

// A journal folder holding only the days' samples, written once.
const QTemporaryDir& MonthOfSamples() {
    static const QTemporaryDir dir = [] {
        QTemporaryDir d;
        const QDate first(2026, 11, 10);
        Reading r;
        r.unitCode = 2;
        r.counts = 3;
        r.intervalMs = 3000;
        for (int day = 0; day < kDays; ++day) {
            const QDate date = first.addDays(day);
            QFile file(d.filePath(date.toString(Qt::ISODate) + QStringLiteral(".samples")));
            if (!file.open(QIODevice::WriteOnly))
                break;
            QByteArray text = kJournalSamplesHeader;
            for (int i = 0; i < kPerDay; ++i) {
                r.time = DateTimeFromQt(date.startOfDay()) + i * 3.0 / 86400.0;
                r.value = 0.010 + (i % 17) * 0.001;
                r.cpm = r.value * 600;
                r.band = RateBand{{r.value * 0.6, false}, {r.value * 1.6, false}};
                text += JournalSampleLine(r);
            }
            file.write(text);
        }
        return d;
    }();
    return dir;
}

void BM_ReadingsForThePage(benchmark::State& state) {
    const qint64 spanMs = state.range(0) * 3600 * 1000;
    const JournalReader reader(MonthOfSamples().path());
    web::ReadingsQuery query;
    query.toUtcMs = QDate(2026, 11, 10).addDays(kDays).startOfDay().toMSecsSinceEpoch();
    query.fromUtcMs = query.toUtcMs - spanMs;
    query.stepSeconds = static_cast<int>(state.range(1));
    std::size_t rows = 0;
    for (auto _ : state) {
        const web::ReadingsPage page = web::ReadReadings(reader, query, 10000);
        benchmark::DoNotOptimize(web::ReadingsJson(page, query.stepSeconds));
        rows = page.rows.size();
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ReadingsForThePage)
    ->Args({1, 0})          // the last hour, every reading
    ->Args({24, 60})        // 24 hours in minutes
    ->Args({30 * 24, 1800}) // 30 days in half hours
    ->Unit(benchmark::kMillisecond);

} // namespace
