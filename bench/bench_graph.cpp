// The graph's share of the program's time: a full chart redraw at the
// largest live size (48 hours of 3-second readings) into the export-sized
// image, and one sampling tick's graph work (append, span trimming, mean,
// statistics text, redraw). Goals on the development machine: redraw under
// 3 ms, tick under 5 ms.
#include "device/counter.h"
#include "device/simulated_driver.h"
#include "graph/chart.h"
#include "graph/graph_texts.h"
#include "graph/line_series.h"
#include "platform/clock.h"
#include "platform/regional.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <random>

namespace {

using namespace korvinet;

constexpr double kTick = 3.0 / 86400.0;
constexpr double kDay0 = 40982.375;
constexpr int kLivePoints = 57600;

// A live graph with noisy readings and a few alarm stretches.
struct LiveGraph {
    TLineSeries live{"Live Reading", kColorBlue};
    TLineSeries average{"Average", kColorGreen};
    TChart chart;
    Regional regional{QLocale::c()};
    std::mt19937 random{7};
    std::normal_distribution<double> noise{0.02, 0.004};
    double nextX = kDay0;

    LiveGraph() {
        chart.AddSeries(&live);
        chart.AddSeries(&average);
        chart.SetAutoRepaint(false);
        chart.SetLeftAxisAutomaticMaximum(true);
        for (int i = 0; i < kLivePoints; ++i)
            Append();
        RefreshAverage(live, average);
    }

    void Append() {
        const double y = noise(random);
        live.Add(nextX, y, regional.LongTimeText(nextX),
                 y > 0.034 ? kColorRed : kDefaultPointColor);
        nextX += kTick;
    }
};

void BM_FullRedraw(benchmark::State& state) {
    LiveGraph graph;
    QImage image(TChart::kDesignWidth, TChart::kDesignHeight, QImage::Format_RGB32);
    const QRect target = image.rect();
    for (auto _ : state) {
        QPainter painter(&image);
        graph.chart.Draw(painter, target);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMillisecond);

void BM_LiveTick(benchmark::State& state) {
    LiveGraph graph;
    ManualClock clock(0, kDay0);
    SimulatedDriver driver(clock);
    TCounter counter(driver, clock);
    QImage image(TChart::kDesignWidth, TChart::kDesignHeight, QImage::Format_RGB32);
    const QRect target = image.rect();
    QStringList statistics;
    graph.chart.SetAfterDrawHandler([&](QPainter& painter, const QRect&) {
        DrawChartOverlays(painter, TChart::kDesignHeight,
                          {graph.live, graph.average, counter, graph.regional, "notes", ""});
        statistics = StatisticsLines(graph.live, graph.average, counter, graph.regional, {}, {});
    });
    for (auto _ : state) {
        graph.Append();
        TrimToSpan(graph.live, 48.0);
        RefreshAverage(graph.live, graph.average);
        QPainter painter(&image);
        graph.chart.Draw(painter, target);
        painter.end();
        benchmark::DoNotOptimize(statistics.size());
    }
    state.counters["points"] = static_cast<double>(graph.live.Count());
}
BENCHMARK(BM_LiveTick)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (qEnvironmentVariableIsSet("KORVINET_SAVE_CHART")) {
        LiveGraph graph;
        graph.chart.RenderImage().save(qEnvironmentVariable("KORVINET_SAVE_CHART"));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
