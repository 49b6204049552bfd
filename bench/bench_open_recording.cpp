// "Open Recording..." from a station that has run for ten years (the
// history of BM_History): the span read from the history store as the
// window reads it, put into the graph's series with their average, and the
// chart drawn once at its design size. Goal: a year at most 1 s. Counters:
// the points drawn and the share of the time spent reading.
#include "app/open_recording.h"
#include "graph/chart.h"
#include "graph/line_series.h"
#include "history_station.h"
#include "platform/regional.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

using namespace korvinet;
using namespace korvinet::bench;

// range(0): the span in hours, ending with the last reading.
void BM_OpenRecording(benchmark::State& state) {
    Station& station = TenYearStation();
    const platform::Regional regional{QLocale::c()};
    const app::RecordingSpan span{station.endUtcMs - state.range(0) * 3600 * kSecondMs,
                                  station.endUtcMs};
    const QStringList units{QStringLiteral("CPM"), QStringLiteral("mR/hr"),
                            QStringLiteral("\u00B5Sv/hr")};
    QImage image(graph::TChart::kDesignWidth, graph::TChart::kDesignHeight, QImage::Format_RGB32);
    std::size_t points = 0;
    double readSeconds = 0.0;
    for (auto _ : state) {
        QElapsedTimer read;
        read.start();
        files::DataFileContents contents;
        app::ReadRecording(recording::HistoryReader(station.dir.path(), station.store->Live()),
                           span, units, regional, {}, &contents);
        readSeconds += read.nsecsElapsed() / 1e9;

        graph::TLineSeries live{"Live Reading", graph::kColorBlue};
        graph::TLineSeries average{"Average", graph::kColorGreen};
        graph::TChart chart;
        chart.SetAutoRepaint(false);
        chart.AddSeries(&live);
        chart.AddSeries(&average);
        for (const device::Reading& p : contents.points)
            live.Add(p.time, p.value);
        graph::RefreshAverage(live, average);
        QPainter painter(&image);
        chart.Draw(painter, image.rect());
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
        points = contents.points.size();
    }
    state.counters["points"] = static_cast<double>(points);
    state.counters["read_ms"] =
        benchmark::Counter(readSeconds * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OpenRecording)
    ->Arg(24)       // every reading
    ->Arg(7 * 24)   // means of minutes
    ->Arg(30 * 24)  // means of minutes
    ->Arg(365 * 24) // means of hours
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
