#include "files/chart_print.h"
#include "graph/band_series.h"
#include "graph/chart.h"
#include "graph/graph_texts.h"
#include "graph/line_series.h"
#include "platform/regional.h"
#include "support/counter_fixture.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <limits>

namespace korvinet::graph {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kDay0 = 40982.375;

bool IsRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 90 && qBlue(c) < 90;
}
bool IsBlue(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 90 && qGreen(c) < 90;
}
bool IsDark(QRgb c) {
    return qGray(c) < 128;
}

int CountPixels(const QImage& image, const QRect& area, bool (*test)(QRgb)) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// A few pixels around a point on a line, to allow for where the rasteriser
// puts a one-pixel line.
QRect Around(QPointF p) {
    return QRect(static_cast<int>(p.x()) - 1, static_cast<int>(p.y()) - 2, 3, 5);
}

class ChartRenderTest : public testing::CounterTest {
protected:
    TChart chart;
    TLineSeries live{"Live Reading", kColorBlue};
    TLineSeries average{"Average", kColorGreen};
    platform::Regional regional{QLocale::c()};
    const QRect target{0, 0, TChart::kDesignWidth, TChart::kDesignHeight};

    void SetUp() override {
        chart.AddSeries(&live);
        chart.AddSeries(&average);
        chart.SetLeftAxisMaximum(200);
        chart.SetTimeLabelFormat(TimeLabelFormat::LongTime(regional));
    }

    void AddFlat(int count, double y, double step, std::initializer_list<int> red = {},
                 bool withAverage = false) {
        for (int i = 0; i < count; ++i) {
            const bool isRed = std::find(red.begin(), red.end(), i) != red.end();
            live.Add(kDay0 + i * step, y, isRed ? kColorRed : kDefaultPointColor);
        }
        // The mean of flat readings would lie on top of them.
        if (withAverage)
            RefreshAverage(live, average);
    }

    void UseOverlays(QString notes = "Basement, north wall") {
        chart.SetAfterDrawHandler([this, notes](QPainter& painter, const QRect&) {
            DrawChartOverlays(painter, chart.height(),
                              {live, average, counter, regional, notes, "45 seconds"});
        });
    }
};

TEST_F(ChartRenderTest, OnlyTheSegmentLeadingToARedPointIsRed) {
    AddFlat(10, 100, 60 * kSecond, {5});
    const QImage image = chart.RenderImage();
    const ChartLayout layout = chart.Layout(target);
    for (int i = 1; i < 10; ++i) {
        SCOPED_TRACE(i);
        const QPointF mid =
            (layout.Map(live.XValue(i - 1), 100) + layout.Map(live.XValue(i), 100)) / 2;
        const int red = CountPixels(image, Around(mid), IsRed);
        const int blue = CountPixels(image, Around(mid), IsBlue);
        if (i == 5) {
            EXPECT_GT(red, 0);
            EXPECT_EQ(blue, 0);
        } else {
            EXPECT_EQ(red, 0);
            EXPECT_GT(blue, 0);
        }
    }
}

TEST_F(ChartRenderTest, DecimationKeepsAShortRedStretch) {
    // Two days of 3-second readings, far more points than pixel columns.
    const int n = 57600;
    AddFlat(n, 100, 3 * kSecond, {30000});
    const ChartLayout layout = chart.Layout(target);
    ASSERT_GT(n, layout.plot.width());
    const QImage image = chart.RenderImage();
    const QPointF at = layout.Map(live.XValue(30000), 100);
    EXPECT_GT(CountPixels(image, Around(at), IsRed), 0);
    EXPECT_GT(CountPixels(image, layout.plot.toRect(), IsBlue), 300);
    // Only that column is red.
    EXPECT_LE(CountPixels(image, layout.plot.toRect(), IsRed), 4);

    live.Clear();
    AddFlat(n, 100, 3 * kSecond);
    EXPECT_EQ(CountPixels(chart.RenderImage(), layout.plot.toRect(), IsRed), 0);
}

TEST_F(ChartRenderTest, DecimationKeepsPeaks) {
    // One spike among flat readings must still reach its height.
    for (int i = 0; i < 20000; ++i)
        live.Add(kDay0 + i * 3 * kSecond, i == 12345 ? 180 : 20);
    RefreshAverage(live, average);
    const ChartLayout layout = chart.Layout(target);
    const QImage image = chart.RenderImage();
    const QPointF peak = layout.Map(live.XValue(12345), 180);
    EXPECT_GT(CountPixels(image, Around(peak), IsBlue), 0);
}

TEST_F(ChartRenderTest, OverlaysAppearAtTheirPlaces) {
    const QRect dateSpan(25, 15, 150, 12);
    const QRect notes(25, 435, 150, 12);
    const QRect summary(25, 450, 150, 12);
    UseOverlays();

    // Empty graph: axes, title and legend only.
    QImage image = chart.RenderImage();
    EXPECT_EQ(CountPixels(image, dateSpan, IsDark), 0);
    EXPECT_EQ(CountPixels(image, notes, IsDark), 0);
    EXPECT_EQ(CountPixels(image, summary, IsDark), 0);

    AddFlat(5, 100, 3 * kSecond, {}, true);
    image = chart.RenderImage();
    EXPECT_GT(CountPixels(image, dateSpan, IsDark), 20);
    EXPECT_GT(CountPixels(image, notes, IsDark), 20);
    EXPECT_GT(CountPixels(image, summary, IsDark), 20);
    // No device was ever opened: no model text.
    EXPECT_EQ(CountPixels(image, QRect(600, 15, 150, 12), IsDark), 0);
}

TEST_F(ChartRenderTest, ModelTextOnceADeviceWasOpened) {
    AddCounter();
    Connect();
    UseOverlays("");
    AddFlat(3, 50, 3 * kSecond, {}, true);
    const QImage image = chart.RenderImage();
    EXPECT_GT(CountPixels(image, QRect(600, 15, 100, 12), IsDark), 20);
}

TEST_F(ChartRenderTest, AfterDrawRunsOnEverySurfaceWithPlainPainter) {
    int calls = 0;
    chart.SetAfterDrawHandler([&](QPainter& painter, const QRect& r) {
        ++calls;
        EXPECT_EQ(painter.pen().color(), QColor(Qt::black));
        EXPECT_EQ(painter.brush().style(), Qt::NoBrush);
        EXPECT_EQ(r.size(), chart.size());
    });
    chart.RenderImage();
    EXPECT_EQ(calls, 1);
    chart.grab(); // through the widget's own paint event
    EXPECT_EQ(calls, 2);
}

TEST_F(ChartRenderTest, AutoRepaintCanBeHeldOff) {
    int paints = 0;
    chart.SetAfterDrawHandler([&](QPainter&, const QRect&) { ++paints; });
    chart.show();
    QApplication::processEvents();
    const int shown = paints;
    EXPECT_GT(shown, 0);

    chart.SetAutoRepaint(false);
    AddFlat(3, 50, 3 * kSecond);
    live.Clear();
    average.Clear();
    QApplication::processEvents();
    EXPECT_EQ(paints, shown);

    chart.SetAutoRepaint(true);
    QApplication::processEvents();
    EXPECT_EQ(paints, shown + 1);
}

TEST_F(ChartRenderTest, FixedAndAutomaticMaximum) {
    AddFlat(10, 150, 60 * kSecond);
    chart.SetLeftAxisMaximum(300);
    ChartLayout layout = chart.Layout(target);
    EXPECT_DOUBLE_EQ(layout.yMax, 300);
    EXPECT_DOUBLE_EQ(layout.yMin, 0);
    chart.SetLeftAxisAutomaticMaximum(true);
    layout = chart.Layout(target);
    EXPECT_DOUBLE_EQ(layout.yMax, 150);
    // The line then runs along the top of the axis.
    const QImage image = chart.RenderImage();
    EXPECT_GT(CountPixels(image, Around(layout.Map(live.XValue(5), 150)), IsBlue), 0);
}

TEST_F(ChartRenderTest, RubberBandZoomAndBack) {
    chart.SetZoomAnimated(false);
    chart.resize(TChart::kDesignWidth, TChart::kDesignHeight);
    AddFlat(100, 100, 60 * kSecond);
    const ChartLayout full = chart.Layout(target);

    auto drag = [&](QPoint from, QPoint to) {
        QMouseEvent press(QEvent::MouseButtonPress, from, chart.mapToGlobal(from), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, chart.mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, chart.mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&chart, &press);
        QApplication::sendEvent(&chart, &move);
        QApplication::sendEvent(&chart, &release);
    };

    const QPoint a = full.Map(live.XValue(20), 150).toPoint();
    const QPoint b = full.Map(live.XValue(40), 50).toPoint();
    drag(a, b);
    ASSERT_TRUE(chart.IsZoomed());
    const ChartLayout zoomed = chart.Layout(target);
    EXPECT_NEAR(zoomed.xMin, live.XValue(20), 60 * kSecond);
    EXPECT_NEAR(zoomed.xMax, live.XValue(40), 60 * kSecond);
    EXPECT_NEAR(zoomed.yMax, 150, 5);
    EXPECT_NEAR(zoomed.yMin, 50, 5);

    drag(b, a); // left and up: back to the full view
    EXPECT_FALSE(chart.IsZoomed());
    EXPECT_DOUBLE_EQ(chart.Layout(target).xMin, full.xMin);
}

} // namespace
} // namespace korvinet::graph

namespace korvinet::graph {
namespace {

TEST_F(ChartRenderTest, PrintedPageKeepsTheProportionsOfTheScreen) {
    AddFlat(10, 100, 60 * kSecond, {5}, false);
    live.Add(kDay0 + 0.01, 0); // moves the mean off the flat line
    UseOverlays();
    RefreshAverage(live, average);
    // Twice the screen size, offset like a page margin, as the window prints.
    QImage page(1700, 1000, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    files::PaintChartOnPage(painter, QRectF(50, 30, 1600, 940), files::ChartPrintSettings{},
                            target.size(), [&](QPainter& p) { chart.Draw(p, target); });
    painter.end();
    const ChartLayout layout = chart.Layout(target);
    const QPointF mid = (layout.Map(live.XValue(4), 100) + layout.Map(live.XValue(5), 100)) / 2;
    const QPointF onPage(50 + 2 * mid.x(), 30 + 2 * mid.y());
    EXPECT_GT(CountPixels(page, QRect(onPage.toPoint() - QPoint(2, 4), QSize(5, 9)), IsRed), 0);
    // The date span overlay at (25, 15) of the chart, scaled.
    EXPECT_GT(CountPixels(page, QRect(100, 60, 300, 24), IsDark), 40);
}

TEST_F(ChartRenderTest, ClearGraphEmptiesAndTitlesTheAxis) {
    AddFlat(10, 100, 60 * kSecond, {}, true);
    ClearGraphSeries(chart, live, average, device::TCounter::UnitNameOf(4));
    EXPECT_TRUE(live.IsEmpty());
    EXPECT_TRUE(average.IsEmpty());
    EXPECT_EQ(chart.LeftAxisTitle(), "\u00B5Sv/hr");
    EXPECT_TRUE(chart.AutoRepaint());
}

TEST_F(ChartRenderTest, SurvivesDegenerateSizesAndValues) {
    AddFlat(3, 1e12, 60 * kSecond, {1}, true);
    live.Add(kDay0 + 10, -1);
    chart.SetLeftAxisAutomaticMaximum(true);
    for (QSize size : {QSize(1, 1), QSize(30, 20), QSize(800, 470)})
        EXPECT_EQ(chart.RenderImage(size).size(), size);
    chart.SetLeftAxisAutomaticMaximum(false);
    EXPECT_TRUE(chart.SetLeftAxisMaximum(0)); // the axis minimum itself
    EXPECT_FALSE(chart.SetLeftAxisMaximum(std::nan("")));
    EXPECT_EQ(chart.RenderImage().size(), QSize(800, 470));
}

} // namespace
} // namespace korvinet::graph

namespace korvinet::graph {
namespace {

TEST_F(ChartRenderTest, CrossCursorOverTheReadingsLine) {
    chart.resize(TChart::kDesignWidth, TChart::kDesignHeight);
    AddFlat(10, 100, 60 * kSecond);
    const ChartLayout layout = chart.Layout(target);
    auto hover = [&](QPointF at) {
        QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&chart, &move);
        return chart.cursor().shape();
    };
    const QPointF on = (layout.Map(live.XValue(3), 100) + layout.Map(live.XValue(4), 100)) / 2;
    EXPECT_EQ(hover(on), Qt::CrossCursor);
    EXPECT_EQ(hover(on + QPointF(0, 30)), Qt::ArrowCursor);
}

} // namespace
} // namespace korvinet::graph

namespace korvinet::graph {
namespace {

bool IsTint(QRgb c) {
    return qBlue(c) > 240 && qRed(c) > 150 && qRed(c) < 235 && qGreen(c) < 235;
}

// The band fills between its bounds, under the line, wherever its points
// fall: out of order, far beyond the axis, many to a pixel column.
TEST_F(ChartRenderTest, BandFillsBetweenItsBounds) {
    TBandSeries band(kColorBlue);
    chart.SetBand(&band);
    const int n = 20000;
    AddFlat(n, 100, 3 * kSecond);
    for (int i = n - 1; i >= 0; --i)
        band.Add(live.XValue(i), 60, i == 5000 ? 1e12 : 140);
    band.Add(live.XValue(7), 60, std::numeric_limits<double>::infinity());
    ASSERT_TRUE(std::is_sorted(band.Points().begin(), band.Points().end(),
                               [](const auto& a, const auto& b) { return a.x < b.x; }));
    const ChartLayout layout = chart.Layout(target);
    const double middle = live.XValue(n / 2 + 100);
    const auto tinted = [&](const QImage& image, double y) {
        return CountPixels(image, Around(layout.Map(middle, y)), IsTint);
    };
    QImage image = chart.RenderImage();
    EXPECT_GE(tinted(image, 80), 12); // a dotted grid line may cross
    EXPECT_GE(tinted(image, 120), 12);
    EXPECT_EQ(tinted(image, 40), 0);
    EXPECT_EQ(tinted(image, 160), 0);
    EXPECT_GT(CountPixels(image, Around(layout.Map(middle, 100)), IsBlue), 0); // the line on top
    // The spike runs up to the top of the plot, and no further.
    const QPointF spike = layout.Map(live.XValue(5000), 190);
    EXPECT_GT(CountPixels(image, Around(spike), IsTint), 0);
    EXPECT_EQ(CountPixels(image, QRect(0, 0, 800, int(layout.plot.top()) - 2), IsTint), 0);

    band.RemoveBefore(live.XValue(n / 2));
    image = chart.RenderImage();
    EXPECT_GE(tinted(image, 80), 12);
    EXPECT_EQ(CountPixels(image, Around(layout.Map(live.XValue(n / 4), 80)), IsTint), 0);
}

} // namespace
} // namespace korvinet::graph
