#include "graph/band_series.h"
#include "graph/chart.h"
#include "graph/line_series.h"
#include "platform/regional.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace korvinet::graph {
namespace {

constexpr TColor D = kDefaultPointColor;
constexpr TColor R = kColorRed;
constexpr TColor G = kColorGreen;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Vertex {
    std::size_t index;
    TColor incoming;
    bool operator==(const Vertex& o) const { return index == o.index && incoming == o.incoming; }
};

// The per-point decimation the chart drew with before the block summaries:
// every point of every column visited. The summaries must keep exactly these.
std::vector<Vertex> ReferenceDecimation(const TLineSeries& s, std::size_t begin, std::size_t end,
                                        double xMin, double scale) {
    std::vector<Vertex> vertices;
    auto column = [&](std::size_t i) {
        return static_cast<long long>(std::floor((s.XValue(i) - xMin) * scale));
    };
    std::size_t i = begin;
    TColor merged = D;
    while (i < end) {
        const long long col = column(i);
        std::size_t j = i + 1, lowest = i, highest = i;
        while (j < end && column(j) == col) {
            if (s.YValue(j) < s.YValue(lowest))
                lowest = j;
            if (s.YValue(j) > s.YValue(highest))
                highest = j;
            ++j;
        }
        const std::size_t last = j - 1;
        std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest), last};
        int k = 0;
        const std::size_t columnStart = vertices.size();
        TColor columnColor = D;
        for (std::size_t m = i; m <= last; ++m) {
            merged = MergeSegmentColor(merged, s.PointColor(m));
            columnColor = MergeSegmentColor(columnColor, s.PointColor(m));
            while (k < 4 && keep[k] < m)
                ++k;
            if (k < 4 && keep[k] == m) {
                vertices.push_back({m, merged});
                merged = D;
            }
        }
        if (columnColor != D) {
            for (std::size_t v = columnStart; v < vertices.size(); ++v)
                vertices[v].incoming = MergeSegmentColor(vertices[v].incoming, columnColor);
        }
        i = j;
    }
    return vertices;
}

std::vector<Vertex> Decimated(const TLineSeries& s, std::size_t begin, std::size_t end, double xMin,
                              double scale) {
    std::vector<Vertex> out;
    for (const KeptVertex& k : DecimateToColumns(s, begin, end, xMin, scale))
        out.push_back({k.index, k.incoming});
    return out;
}

TEST(Decimation, KeepsEndsExtremesAndAlarmColours) {
    struct Case {
        const char* name;
        std::vector<double> ys; // x = index; two points per column
        std::vector<TColor> colors;
        std::vector<Vertex> kept;
    };
    const Case cases[] = {
        {"one point per column", {1, 2, 3}, {D, D, D}, {{0, D}, {1, D}, {2, D}}},
        {"two per column", {1, 2, 3, 4}, {D, D, D, D}, {{0, D}, {1, D}, {2, D}, {3, D}}},
        {"red inside a column colours all its vertices",
         {5, 5, 5, 5},
         {D, R, D, D},
         {{0, R}, {1, R}, {2, D}, {3, D}}},
        {"red wins over another alarm colour",
         {1, 1, 1, 1},
         {G, R, D, D},
         {{0, R}, {1, R}, {2, D}, {3, D}}},
        {"NaN first keeps only the ends",
         {kNaN, 9, 0, 1},
         {D, D, D, D},
         {{0, D}, {1, D}, {2, D}, {3, D}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLineSeries s("Live Reading", kColorBlue);
        for (std::size_t i = 0; i < c.ys.size(); ++i)
            s.Add(static_cast<double>(i), c.ys[i], c.colors[i]);
        EXPECT_EQ(Decimated(s, 0, s.Count(), 0, 0.5), c.kept);
        EXPECT_EQ(ReferenceDecimation(s, 0, s.Count(), 0, 0.5), c.kept);
    }
}

TEST(Decimation, MatchesThePerPointPassOnLongTrimmedAndInsertedSeries) {
    // Long columns go through the summaries; a trimmed front and late points
    // move block boundaries against the first point.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(0, 100);
    std::uniform_int_distribution<int> pick(0, 999);
    TLineSeries s("Live Reading", kColorBlue);
    double x = 0;
    auto add = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const int p = pick(random);
            const double y = p == 0 ? kNaN : (p < 3 ? value(random) * 1000 : value(random));
            s.Add(x, y, p < 5 ? R : (p < 10 ? G : D));
            x += 1 + (pick(random) < 100 ? 50 : 0);
        }
    };
    add(20000);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        for (double columns : {3.0, 19.0, 97.0, 760.0, 5000.0}) {
            const double scale = columns / (s.LastX() - s.FirstX());
            ASSERT_EQ(Decimated(s, 0, s.Count(), s.FirstX(), scale),
                      ReferenceDecimation(s, 0, s.Count(), s.FirstX(), scale));
            const std::size_t from = s.Count() / 3, to = s.Count() / 3 * 2;
            ASSERT_EQ(Decimated(s, from, to, s.XValue(from), scale * 3),
                      ReferenceDecimation(s, from, to, s.XValue(from), scale * 3));
        }
        s.RemoveFirst(1237);
        s.Add(s.XValue(s.Count() / 2) + 0.5, 500, R); // a late point
        add(3000);
    }
}

// The chart's drawing of a 57,600-point series, full and zoomed, against the
// per-point pass drawn the way the chart draws vertices.
TEST(Decimation, DrawsTheSamePixelsAsThePerPointPass) {
    const platform::Regional regional{QLocale::c()};
    TLineSeries live("Live Reading", kColorBlue);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.02, 0.004);
    for (int i = 0; i < 57600; ++i) {
        const double x = 40982.375 + i * 3.0 / 86400.0;
        const double y = noise(random);
        live.Add(x, y, y > 0.034 ? kColorRed : D);
    }
    ChartLayout layout;
    layout.plot = QRectF(60, 40, 700, 330);
    layout.yTop = layout.plot.top() + 0.05 * layout.plot.height();
    layout.yMin = 0;
    layout.yMax = 0.04;
    const std::tuple<double, double, double> views[] = {
        {live.FirstX(), live.LastX(), 700},
        {live.FirstX(), live.LastX(), 90},
        {live.XValue(20000) + 1e-7, live.XValue(31000), 700},
        {live.XValue(100), live.XValue(900), 700},
    };
    // A narrow plot has columns long enough to be read through the summaries.
    for (const auto& [from, to, width] : views) {
        SCOPED_TRACE(from);
        layout.plot.setWidth(width);
        layout.xMin = from;
        layout.xMax = to;
        QImage drawn(800, 470, QImage::Format_RGB32), expected(800, 470, QImage::Format_RGB32);
        drawn.fill(Qt::white);
        expected.fill(Qt::white);
        {
            QPainter painter(&drawn);
            DrawLineSeries(painter, layout, live);
        }
        const std::size_t lo = live.LowerBound(from), hi = live.UpperBound(to);
        const std::size_t begin = lo == 0 ? 0 : lo - 1;
        const std::size_t end = hi == live.Count() ? hi : hi + 1;
        const std::vector<Vertex> kept = ReferenceDecimation(
            live, begin, end, from, layout.plot.width() / (layout.xMax - layout.xMin));
        {
            QPainter painter(&expected);
            auto pen = [](TColor c) { return c == D ? kColorBlue : c; };
            for (std::size_t v = 1; v < kept.size();) {
                const TColor c = pen(kept[v].incoming);
                std::vector<QPointF> run{
                    layout.Map(live.XValue(kept[v - 1].index), live.YValue(kept[v - 1].index))};
                for (; v < kept.size() && pen(kept[v].incoming) == c; ++v)
                    run.push_back(
                        layout.Map(live.XValue(kept[v].index), live.YValue(kept[v].index)));
                painter.setPen(QPen(ColorFromTColor(c), 1));
                painter.drawPolyline(run.data(), static_cast<int>(run.size()));
            }
        }
        EXPECT_TRUE(drawn == expected);
    }
}

// The band as it was drawn from every point: per pixel column the lowest low
// and highest high of its points with both bounds finite.
void ReferenceBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band) {
    std::map<double, std::pair<double, double>> columns; // top and bottom pixel
    for (const TBandSeries::Point& p : band.Points()) {
        if (!std::isfinite(p.low) || !std::isfinite(p.high))
            continue;
        const QPointF high = layout.Map(p.x, p.high);
        const double low = layout.Map(p.x, p.low).y();
        auto [at, fresh] = columns.try_emplace(std::floor(high.x()), high.y(), low);
        if (!fresh)
            at->second = {std::min(at->second.first, high.y()), std::max(at->second.second, low)};
    }
    QPolygonF upper, lower;
    for (const auto& [c, range] : columns) {
        upper << QPointF(c, range.first) << QPointF(c + 1, range.first);
        lower.prepend(QPointF(c, range.second));
        lower.prepend(QPointF(c + 1, range.second));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 255, 48));
    if (columns.size() > 1)
        painter.drawPolygon(upper + lower);
}

// The band's summaries against every point, through trims and late points:
// the extent of any stretch, and the drawing, full, zoomed and on a plot
// narrow enough for long columns.
TEST(Decimation, BandMatchesThePerPointPass) {
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.02, 0.004);
    TBandSeries band(kColorBlue);
    double x = 40982.375;
    const auto add = [&](int count) {
        for (int i = 0; i < count; ++i, x += 3.0 / 86400.0) {
            const double y = noise(random);
            band.Add(x, y * 0.6, i % 997 == 0 ? std::numeric_limits<double>::infinity() : y * 1.5);
        }
    };
    add(57600);
    ChartLayout layout{QRectF(60, 40, 700, 330), {}, 56.5};
    layout.yMax = 0.04;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::deque<TBandSeries::Point>& points = band.Points();
        const std::size_t n = points.size();
        for (const auto& [from, to] :
             {std::pair<std::size_t, std::size_t>(0, n), {17, 12310}, {n / 3, n / 3 * 2}, {5, 5}}) {
            TBandSeries::Extent all, summed = band.Range(from, to);
            for (std::size_t i = from; i < to; ++i)
                if (std::isfinite(points[i].low) && std::isfinite(points[i].high))
                    all = {std::min(all.low, points[i].low), std::max(all.high, points[i].high), 1};
            EXPECT_EQ(std::tie(summed.low, summed.high, summed.any),
                      std::tie(all.low, all.high, all.any));
        }
        for (const auto& [from, to, width] :
             {std::tuple(points.front().x, points.back().x, 700.0),
              std::tuple(points.front().x, points.back().x, 90.0),
              std::tuple(points[20000].x + 1e-7, points[31000].x, 700.0)}) {
            layout.plot.setWidth(width);
            layout.xMin = from;
            layout.xMax = to;
            QImage drawn(800, 470, QImage::Format_RGB32), expected(drawn.size(), drawn.format());
            for (QImage* image : {&drawn, &expected}) {
                image->fill(Qt::white);
                QPainter painter(image);
                painter.setClipRect(layout.plot);
                (image == &drawn ? DrawBand : ReferenceBand)(painter, layout, band);
            }
            EXPECT_TRUE(drawn == expected) << width;
        }
        band.RemoveBefore(points[1237].x);
        band.Add(points[n / 2].x + 1e-9, 0.001, 0.05); // a late point
        add(3000);
    }
}

} // namespace
} // namespace korvinet::graph
