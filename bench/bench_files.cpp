// Saving and opening a full 48-hour graph (57,600 points, one every three
// seconds) as a data file. The goal is under 100 ms for each, so saving and
// opening never feel slow even on a long recording.
#include "device/counter.h"
#include "device/simulated_driver.h"
#include "files/data_file.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/regional.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

using namespace korvinet;

constexpr int kPoints = 57600;

struct Graph {
    ManualClock clock{0, 40982.375};
    SimulatedDriver driver{clock, 1};
    TCounter counter{driver, clock};
    Regional regional{QLocale::c()};
    std::vector<GraphPoint> points;
    DataFileHeader header;
    QTemporaryDir dir;

    Graph() {
        const QDateTime start(QDate(2012, 3, 14), QTime(9, 0, 3));
        for (int i = 0; i < kPoints; ++i)
            points.push_back(GraphPoint{DateTimeFromQt(start.addSecs(3LL * i)), (i % 1000) / 1000.0,
                                        QString(), kDefaultPointColor});
        header.averagingTime = QStringLiteral("45 seconds");
        header.title = QStringLiteral("Radiation vs. Time");
        header.dateSaved = 40984.5;
        header.bottomAxisTitle = QStringLiteral("Time");
        header.leftAxisTitle = counter.UnitName();
    }
    QString Path() const { return dir.filePath(QStringLiteral("graph.csv")); }
};

void BM_SaveDataFile(benchmark::State& state) {
    Graph g;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            WriteDataFile(g.Path(), g.points, g.counter, g.header, g.regional));
}
BENCHMARK(BM_SaveDataFile)->Unit(benchmark::kMillisecond);

void BM_OpenDataFile(benchmark::State& state) {
    Graph g;
    WriteDataFile(g.Path(), g.points, g.counter, g.header, g.regional);
    QStringList units;
    for (std::int8_t u = 0; u < 5; ++u)
        units << TCounter::UnitNameOf(u);
    for (auto _ : state) {
        DataFileReader reader(g.regional);
        DataFileContents contents;
        reader.Open(g.Path());
        benchmark::DoNotOptimize(reader.Read(units, &contents));
        if (contents.points.size() != static_cast<std::size_t>(kPoints))
            state.SkipWithError("points lost");
    }
}
BENCHMARK(BM_OpenDataFile)->Unit(benchmark::kMillisecond);

} // namespace
