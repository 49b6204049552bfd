// Saving and opening a live graph as a data file at three sizes: 48 hours,
// 20 days and a year of 3-second readings (57,600, 576,000 and 10,512,000
// points). The save writes the window's series as it is read; the open
// fills a series as the window's open does. Goals on the development
// machine: at 57,600 points under 60 ms each, at a year under 3 s each
// (at least 100 MB/s).
//
// The largest size writes a file of some 300 MB into the temporary folder;
// pick sizes with --benchmark_filter=/57600 and the like.
#include "device/counter.h"
#include "device/simulated_driver.h"
#include "files/data_file.h"
#include "graph/line_series.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/regional.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using namespace korvinet;

struct Graph {
    platform::ManualClock clock{0, 40982.375};
    device::SimulatedDriver driver{clock, 1};
    device::TCounter counter{driver, clock};
    platform::Regional regional{QLocale::c()};
    graph::TLineSeries series{"Live Reading", graph::kColorBlue};
    files::DataFileHeader header;
    QTemporaryDir dir;

    explicit Graph(std::int64_t points) {
        const double start =
            platform::DateTimeFromQt(QDateTime(QDate(2012, 3, 14), QTime(9, 0, 3)));
        for (std::int64_t i = 0; i < points; ++i)
            series.Add(start + static_cast<double>(3 * i) / 86400.0,
                       static_cast<double>(i % 1000) / 1000.0);
        header.averagingTime = QStringLiteral("45 seconds");
        header.title = QStringLiteral("Radiation vs. Time");
        header.dateSaved = 40984.5;
        header.bottomAxisTitle = QStringLiteral("Time");
        header.leftAxisTitle = counter.UnitName();
    }
    QString Path() const { return dir.filePath(QStringLiteral("graph.csv")); }
    bool Save() const {
        return files::WriteDataFilePoints(Path(),
                                          {series.Count(),
                                           [this](std::size_t i) { return series.XValue(i); },
                                           [this](std::size_t i) { return series.YValue(i); }},
                                          counter, header, regional);
    }
};

void SetBytes(benchmark::State& state, const Graph& g) {
    const qint64 size = QFileInfo(g.Path()).size();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

void BM_SaveDataFile(benchmark::State& state) {
    Graph g(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(g.Save());
    SetBytes(state, g);
}
BENCHMARK(BM_SaveDataFile)->Arg(57600)->Arg(576000)->Arg(10512000)->Unit(benchmark::kMillisecond);

void BM_OpenDataFile(benchmark::State& state) {
    Graph g(state.range(0));
    if (!g.Save())
        state.SkipWithError("not saved");
    QStringList units;
    for (std::int8_t u = 0; u < 5; ++u)
        units << device::TCounter::UnitNameOf(u);
    for (auto _ : state) {
        files::DataFileReader reader(g.regional);
        files::DataFileContents contents;
        graph::TLineSeries opened("Live Reading", graph::kColorBlue);
        reader.Open(g.Path());
        benchmark::DoNotOptimize(
            reader.Read(units, &contents, [&opened](double x, double y) { opened.Add(x, y); }, {}));
        if (opened.Count() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("points lost");
    }
    SetBytes(state, g);
}
BENCHMARK(BM_OpenDataFile)->Arg(57600)->Arg(576000)->Arg(10512000)->Unit(benchmark::kMillisecond);

} // namespace
