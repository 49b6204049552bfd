#pragma once

#include "graph/block_index.h"
#include "graph/graph_point.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>

class QPainter;

namespace korvinet::graph {

struct ChartLayout;

// A shaded range along a line: for each time, a low and a high value (the
// 95 % band of each reading). Kept in ascending x like TLineSeries, a point
// of equal x after the ones already there. It has no legend entry and no
// say in the axes: a range beyond the plot is cut off at its edge.
//
// Like the line's readings, the band keeps block summaries
// (BlockIndexedPoints), so the lowest low and highest high of any stretch
// are found in O(log n) and a drawing does not visit every point.
class TBandSeries {
public:
    struct Point {
        double x = 0.0;
        double low = 0.0;
        double high = 0.0;
    };
    // The lowest low and highest high of a stretch, over the points whose
    // bounds are both finite (the others have no range to show).
    struct Extent {
        double low = std::numeric_limits<double>::infinity();
        double high = -std::numeric_limits<double>::infinity();
        bool any = false;
    };

    explicit TBandSeries(TColor color) : color_(color) {}

    TColor BandColor() const { return color_; }
    const std::deque<Point>& Points() const { return points_.Points(); }
    bool IsEmpty() const { return points_.Empty(); }
    // First index whose x is not less than x (the count when none).
    std::size_t LowerBound(double x) const { return points_.LowerBound(x); }
    // First index whose x is greater than x (the count when none).
    std::size_t UpperBound(double x) const { return points_.UpperBound(x); }
    // The extent of the points [begin, end).
    Extent Range(std::size_t begin, std::size_t end) const;

    void Add(double x, double low, double high);
    // Drops the points before x, as the line they belong to was trimmed.
    void RemoveBefore(double x);
    void Clear();

private:
    // Defined here, so that a drawing's many queries merge without calls.
    struct IndexTraits {
        using Point = TBandSeries::Point;
        using Summary = Extent;
        static constexpr int kLevels = 5;
        static void Add(Extent& acc, const Point& p, std::uint64_t) {
            if (std::isfinite(p.low) && std::isfinite(p.high))
                Merge(acc, {p.low, p.high, true});
        }
        static void Merge(Extent& acc, const Extent& e) {
            if (!e.any)
                return;
            acc.low = std::min(acc.low, e.low);
            acc.high = std::max(acc.high, e.high);
            acc.any = true;
        }
    };

    TColor color_;
    BlockIndexedPoints<IndexTraits> points_;
};

// Fills the band in a light tint of its colour, one column per pixel holding
// the widest range of the points that fall in it. Each column's points are
// found by search and their range taken from the block summaries, so the
// work per drawing follows the plot's width rather than the number of
// points. The chart calls it under its lines, clipped to the plot, on every
// surface it draws on.
void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band);

} // namespace korvinet::graph
