// The graph's share of the program's time at three sizes of live graph: 48
// hours, 20 days and a year of 3-second readings (57,600, 576,000 and
// 10,512,000 points). BM_FullRedraw is a full chart redraw into the
// export-sized image, BM_FullRedrawWithBand the same with the 95 % band of
// every reading shown; BM_LiveTick one sampling tick's graph work (append,
// span trimming, mean, statistics text, redraw). bytes_per_point is the heap
// the live series holds per point. Goals on the development machine: at
// 57,600 points redraw under 1.5 ms and a tick under 2 ms; at a year redraw
// under 3 ms, a tick under 5 ms and at most 40 bytes a point; with the band
// a year's redraw within twice that of 48 hours.
//
// The largest size takes a few seconds to build; pick sizes with
// --benchmark_filter=BM_FullRedraw/57600 and the like.
#include "device/counter.h"
#include "device/simulated_driver.h"
#include "graph/band_series.h"
#include "graph/chart.h"
#include "graph/graph_texts.h"
#include "graph/line_series.h"
#include "platform/clock.h"
#include "platform/regional.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <random>

namespace {

using namespace korvinet;

constexpr double kTick = 3.0 / 86400.0;
constexpr double kDay0 = 40982.375;
constexpr double kTickSeconds = 3.0;

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

// A live graph with noisy readings and a few alarm stretches, spanning just
// its points, labelled with the time of day as the window labels them.
struct LiveGraph {
    graph::TLineSeries live{"Live Reading", graph::kColorBlue};
    graph::TLineSeries average{"Average", graph::kColorGreen};
    graph::TBandSeries band{graph::kColorBlue};
    graph::TChart chart;
    platform::Regional regional{QLocale::c()};
    std::mt19937 random{7};
    std::normal_distribution<double> noise{0.02, 0.004};
    double nextX = kDay0;
    double spanHours = 0.0;
    double bytesPerPoint = 0.0;

    // `withBand`: each reading's 95 % band too, as the window keeps it.
    explicit LiveGraph(std::int64_t points, bool withBand = false) {
        spanHours = static_cast<double>(points - 1) * kTickSeconds / 3600.0;
        chart.AddSeries(&live);
        chart.SetTimeLabelFormat(graph::TimeLabelFormat::LongTime(regional));
        chart.AddSeries(&average);
        chart.SetAutoRepaint(false);
        chart.SetLeftAxisAutomaticMaximum(true);
        const std::size_t before = HeapInUse();
        for (std::int64_t i = 0; i < points; ++i) {
            const double y = noise(random);
            live.Add(nextX, y, y > 0.034 ? graph::kColorRed : graph::kDefaultPointColor);
            if (withBand)
                band.Add(nextX, y * 0.6, y * 1.5);
            nextX += kTick;
        }
        bytesPerPoint = static_cast<double>(HeapInUse() - before) / static_cast<double>(points);
        graph::RefreshAverage(live, average);
        if (withBand)
            chart.SetBand(&band);
    }

    void Append() {
        const double y = noise(random);
        live.Add(nextX, y, y > 0.034 ? graph::kColorRed : graph::kDefaultPointColor);
        nextX += kTick;
    }
};

void FullRedraw(benchmark::State& state, bool withBand) {
    LiveGraph graph(state.range(0), withBand);
    QImage image(graph::TChart::kDesignWidth, graph::TChart::kDesignHeight, QImage::Format_RGB32);
    const QRect target = image.rect();
    for (auto _ : state) {
        QPainter painter(&image);
        graph.chart.Draw(painter, target);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["bytes_per_point"] = graph.bytesPerPoint;
}

void BM_FullRedraw(benchmark::State& state) {
    FullRedraw(state, false);
}
BENCHMARK(BM_FullRedraw)->Arg(57600)->Arg(576000)->Arg(10512000)->Unit(benchmark::kMillisecond);

void BM_FullRedrawWithBand(benchmark::State& state) {
    FullRedraw(state, true);
}
BENCHMARK(BM_FullRedrawWithBand)->Arg(57600)->Arg(10512000)->Unit(benchmark::kMillisecond);

void BM_LiveTick(benchmark::State& state) {
    LiveGraph graph(state.range(0));
    platform::ManualClock clock(0, kDay0);
    device::SimulatedDriver driver(clock);
    device::TCounter counter(driver, clock);
    QImage image(graph::TChart::kDesignWidth, graph::TChart::kDesignHeight, QImage::Format_RGB32);
    const QRect target = image.rect();
    QStringList statistics;
    graph.chart.SetAfterDrawHandler([&](QPainter& painter, const QRect&) {
        graph::DrawChartOverlays(painter, graph::TChart::kDesignHeight,
                                 {graph.live, graph.average, counter, graph.regional, "notes", ""});
        statistics =
            graph::StatisticsLines(graph.live, graph.average, counter, graph.regional, {}, {});
    });
    for (auto _ : state) {
        graph.Append();
        graph::TrimToSpan(graph.live, graph.spanHours);
        graph::RefreshAverage(graph.live, graph.average);
        QPainter painter(&image);
        graph.chart.Draw(painter, target);
        painter.end();
        benchmark::DoNotOptimize(statistics.size());
    }
    state.counters["points"] = static_cast<double>(graph.live.Count());
    state.counters["bytes_per_point"] = graph.bytesPerPoint;
}
BENCHMARK(BM_LiveTick)->Arg(57600)->Arg(576000)->Arg(10512000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsSet("KORVINET_SAVE_CHART")) {
        LiveGraph graph(57600);
        graph.chart.RenderImage().save(qEnvironmentVariable("KORVINET_SAVE_CHART"));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
