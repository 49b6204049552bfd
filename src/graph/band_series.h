#pragma once

#include "graph/graph_point.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>

class QPainter;

namespace korvinet {

struct ChartLayout;

// A shaded range along a line: for each time, a low and a high value (the
// 95 % band of each reading). Kept in ascending x like TLineSeries, a point
// of equal x after the ones already there. It has no legend entry and no
// say in the axes: a range beyond the plot is cut off at its edge.
//
// Like the line's readings, the band keeps summaries of blocks of points
// (16 points, 16 blocks, ...), so the lowest low and highest high of any
// stretch are found in O(log n) and a drawing does not visit every point.
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
    const std::deque<Point>& Points() const { return points_; }
    bool IsEmpty() const { return points_.empty(); }
    // First index whose x is not less than x (the count when none).
    std::size_t LowerBound(double x) const;
    // First index whose x is greater than x (the count when none).
    std::size_t UpperBound(double x) const;
    // The extent of the points [begin, end).
    Extent Range(std::size_t begin, std::size_t end) const;

    void Add(double x, double low, double high);
    // Drops the points before x, as the line they belong to was trimmed.
    void RemoveBefore(double x);
    void Clear();

private:
    static constexpr int kBlockBits = 4;
    static constexpr int kLevels = 5;

    void IndexAppend(std::uint64_t at, const Point& p);
    // Brings the summaries up to date after late points.
    void IndexRebuild() const;

    TColor color_;
    std::deque<Point> points_;
    // Points are numbered from the first ever added (base_ is the number of
    // the current first point), so block boundaries stay put when the front
    // is dropped. levels_[L] holds the extents of blocks of 16^(L+1)
    // points, the first being block number levelFirst_[L].
    std::uint64_t base_ = 0;
    mutable std::deque<Extent> levels_[kLevels];
    mutable std::uint64_t levelFirst_[kLevels] = {};
    // A late point puts the summaries from its number on out of date until
    // the next query, so points added out of order in a row (a clock set
    // back) cost one rebuild, not one each.
    mutable std::optional<std::uint64_t> staleFrom_;
};

// Fills the band in a light tint of its colour, one column per pixel holding
// the widest range of the points that fall in it. Each column's points are
// found by search and their range taken from the block summaries, so the
// work per drawing follows the plot's width rather than the number of
// points. The chart calls it under its lines, clipped to the plot, on every
// surface it draws on.
void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band);

} // namespace korvinet
