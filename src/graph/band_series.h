#pragma once

#include "graph/graph_point.h"

#include <deque>

class QPainter;

namespace korvinet {

struct ChartLayout;

// A shaded range along a line: for each time, a low and a high value (the
// 95 % band of each reading). Kept in ascending x like TLineSeries, a point
// of equal x after the ones already there. It has no legend entry and no
// say in the axes: a range beyond the plot is cut off at its edge.
class TBandSeries {
public:
    struct Point {
        double x = 0.0;
        double low = 0.0;
        double high = 0.0;
    };

    explicit TBandSeries(TColor color) : color_(color) {}

    TColor BandColor() const { return color_; }
    const std::deque<Point>& Points() const { return points_; }
    bool IsEmpty() const { return points_.empty(); }

    void Add(double x, double low, double high);
    // Drops the points before x, as the line they belong to was trimmed.
    void RemoveBefore(double x);
    void Clear() { points_.clear(); }

private:
    TColor color_;
    std::deque<Point> points_;
};

// Fills the band in a light tint of its colour, one column per pixel holding
// the widest range of the points that fall in it, so the work per drawing
// follows the plot's width rather than the number of points. The chart calls
// it under its lines, clipped to the plot, on every surface it draws on.
void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band);

} // namespace korvinet
