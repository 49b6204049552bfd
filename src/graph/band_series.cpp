#include "graph/band_series.h"

#include "graph/chart.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace korvinet {

void TBandSeries::Add(double x, double low, double high) {
    const Point point{x, low, high};
    if (points_.empty() || points_.back().x <= x) {
        points_.push_back(point);
        return;
    }
    const auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                     [](double value, const Point& p) { return value < p.x; });
    points_.insert(at, point);
}

void TBandSeries::RemoveBefore(double x) {
    while (!points_.empty() && points_.front().x < x)
        points_.pop_front();
}

void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band) {
    // The upper edge left to right, the lower edge right to left: one polygon.
    QPolygonF upper, lower;
    bool open = false;
    double column = 0.0, top = 0.0, bottom = 0.0;
    // A column's range spans the whole pixel, so a spike narrower than a
    // pixel still shows.
    const auto flush = [&] {
        upper << QPointF(column, top) << QPointF(column + 1, top);
        lower << QPointF(column, bottom) << QPointF(column + 1, bottom);
    };
    for (const TBandSeries::Point& p : band.Points()) {
        if (!std::isfinite(p.low) || !std::isfinite(p.high))
            continue;
        const QPointF high = layout.Map(p.x, p.high);
        const double low = layout.Map(p.x, p.low).y();
        const double c = std::floor(high.x());
        if (open && c == column) {
            top = std::min(top, high.y());
            bottom = std::max(bottom, low);
            continue;
        }
        if (open)
            flush();
        open = true;
        column = c;
        top = high.y();
        bottom = low;
    }
    if (!open)
        return;
    flush();
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

} // namespace korvinet
