#include "graph/band_series.h"

#include "graph/chart.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace korvinet::graph {

TBandSeries::Extent TBandSeries::Range(std::size_t begin, std::size_t end) const {
    return points_.Query(begin, end);
}

void TBandSeries::Add(double x, double low, double high) {
    points_.Add(Point{x, low, high});
}

void TBandSeries::RemoveBefore(double x) {
    points_.RemoveFirst(points_.LowerBound(x));
}

void TBandSeries::Clear() {
    points_.Clear();
}

void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band) {
    const std::deque<TBandSeries::Point>& points = band.Points();
    const std::size_t count = points.size();
    if (count == 0)
        return;
    const auto column = [&](std::size_t i) { return std::floor(layout.Map(points[i].x, 0.0).x()); };
    // The first point after i in another column (or `end`).
    const auto columnEnd = [&](std::size_t i, std::size_t end) {
        const double first = points[i].x;
        const double last = points[end - 1].x;
        return ColumnEnd(column, i, end, [&](double c) {
            return last > first ? (layout.XToData(c + 1) - first) / (last - first) : 0.0;
        });
    };
    // The columns in view and the whole column either side, so the band
    // runs to the plot's edges as it would with every point drawn.
    std::size_t begin = band.LowerBound(layout.xMin);
    if (begin > 0) {
        const double c = column(begin - 1);
        std::size_t lo = 0;
        std::size_t hi = begin - 1; // in the column
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (column(mid) < c)
                lo = mid + 1;
            else
                hi = mid;
        }
        begin = lo;
    }
    std::size_t end = band.UpperBound(layout.xMax);
    if (end < count)
        end = columnEnd(end, count);

    // The upper edge left to right, the lower edge right to left: one polygon.
    // A column's range spans the whole pixel, so a spike narrower than a
    // pixel still shows.
    QPolygonF upper, lower;
    for (std::size_t i = begin; i < end;) {
        const std::size_t next = columnEnd(i, end);
        const TBandSeries::Extent e = band.Range(i, next);
        if (e.any) {
            const double c = column(i);
            const double top = layout.Map(0.0, e.high).y();
            const double bottom = layout.Map(0.0, e.low).y();
            upper << QPointF(c, top) << QPointF(c + 1, top);
            lower << QPointF(c, bottom) << QPointF(c + 1, bottom);
        }
        i = next;
    }
    if (upper.size() < 4)
        return; // one moment has no width to fill
    std::reverse(lower.begin(), lower.end());
    QColor tint = ColorFromTColor(band.BandColor());
    tint.setAlpha(48);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint);
    painter.drawPolygon(upper + lower);
    painter.restore();
}

} // namespace korvinet::graph
