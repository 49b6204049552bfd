#pragma once

#include "graph/block_index.h"
#include "graph/graph_point.h"

#include <QLocale>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvinet::platform {
class Regional;
} // namespace korvinet::platform

namespace korvinet::graph {

// The colour a segment is drawn in when several segments are merged into one:
// any alarm colour wins over the series colour, red over others. Merging is
// associative: over a stretch it gives red if any point is red, otherwise the
// first alarm colour, otherwise the default.
constexpr TColor MergeSegmentColor(TColor merged, TColor next) {
    if (next == kDefaultPointColor)
        return merged;
    if (merged == kDefaultPointColor || next == kColorRed)
        return next;
    return merged;
}

// The time of day of a date-time as the graph labels it: the milliseconds of
// the day (as the one date-time split rounds them) in a locale's time
// pattern. Labels are made from x where they are drawn, never stored.
struct TimeLabelFormat {
    QLocale locale;
    QString pattern;

    // The long time format of the user's regional settings.
    static TimeLabelFormat LongTime(const platform::Regional& regional);
    QString Text(double dateTime) const;
};

// What a stretch of points amounts to: the first lowest and first highest y
// (NaN readings ignored; index npos when there is none) and the merged colour.
struct SeriesSummary {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    double minY = 0.0;
    double maxY = 0.0;
    std::size_t minAt = npos;
    std::size_t maxAt = npos;
    TColor color = kDefaultPointColor;
};

// One line of the chart: graph points kept in ascending x (time) order,
// points of equal x in their order of arrival (see BlockIndexedPoints).
// Total, minimum and maximum follow every change: the total as a
// compensated running sum, minimum and maximum from the block summaries,
// which the chart also decimates its drawing with. A point is a plain
// 24-byte record (x, y, colour), so a series of months stays cheap.
//
// Queries on an empty series (FirstX, LastX, LastY, MinY, MaxY) are the
// caller's mistake; they return 0 rather than reading outside the list.
class TLineSeries {
public:
    TLineSeries(QString title, TColor color) : title_(std::move(title)), color_(color) {}

    const QString& Title() const { return title_; }
    TColor SeriesColor() const { return color_; }

    std::size_t Count() const { return points_.Size(); }
    bool IsEmpty() const { return points_.Empty(); }
    double XValue(std::size_t i) const { return points_[i].x; }
    double YValue(std::size_t i) const { return points_[i].y; }
    TColor PointColor(std::size_t i) const { return points_[i].color; }
    GraphPoint Point(std::size_t i) const { return {points_[i].x, points_[i].y, points_[i].color}; }
    // First index whose x is not less than x (Count() when none).
    std::size_t LowerBound(double x) const { return points_.LowerBound(x); }
    // First index whose x is greater than x (Count() when none).
    std::size_t UpperBound(double x) const { return points_.UpperBound(x); }
    // Lowest, highest and merged colour of the points [begin, end).
    SeriesSummary Summary(std::size_t begin, std::size_t end) const;

    // Adds the point at its place in x order.
    void Add(double x, double y, TColor color = kDefaultPointColor);
    void RemoveFirst();
    // Removes the first count points (all of them when count is larger).
    void RemoveFirst(std::size_t count);
    void Clear();
    // Takes the other series' points and summaries; its title,
    // colour and change handler stay. The other series is left empty.
    void TakePoints(TLineSeries& other);

    double FirstX() const;
    double LastX() const;
    double LastY() const;
    double MinY() const;
    double MaxY() const;
    double TotalY() const;

    // Called after every change; the chart uses it to repaint.
    void SetChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }

private:
    friend std::vector<struct KeptVertex> DecimateToColumns(const TLineSeries& series,
                                                            std::size_t begin, std::size_t end,
                                                            double xMin, double scale);
    struct Stored {
        double x;
        double y;
        TColor color;
    };
    // Lowest, highest and merged colour of blocks of up to 16^6 points.
    struct IndexTraits {
        using Point = Stored;
        using Summary = SeriesSummary;
        static constexpr int kLevels = 6;
        static void Add(SeriesSummary& acc, const Stored& p, std::uint64_t number);
        static void Merge(SeriesSummary& acc, const SeriesSummary& s);
    };

    void Changed();
    void SumAdd(double y);
    void SumRemove(double y);
    void ResetStats();

    QString title_;
    TColor color_;
    BlockIndexedPoints<IndexTraits> points_;
    std::function<void()> onChange_;

    // Finite readings summed with Neumaier's compensation; the others counted
    // so the total is what plain addition gives (NaN, or an infinity).
    double sum_ = 0.0;
    double compensation_ = 0.0;
    std::size_t nans_ = 0, plusInf_ = 0, minusInf_ = 0;
    mutable bool rangeValid_ = false;
    mutable double min_ = 0.0;
    mutable double max_ = 0.0;
};

// Drops the oldest points of a live series until it spans at most
// maxSpanHours (a span exactly equal is kept). The newest point always stays,
// so a span of 0, a negative one or NaN (from a damaged settings store) leaves
// one point instead of an empty series. Returns the number removed.
std::size_t TrimToSpan(TLineSeries& series, double maxSpanHours);

// Rebuilds the mean series from the readings: empty for no readings,
// otherwise two points (first x, mean) and (last x, mean).
void RefreshAverage(const TLineSeries& readings, TLineSeries& average);

// One live tick's graph work, in this order: the reading joins the series,
// the span is trimmed, the mean rebuilt.
void AppendLiveReading(TLineSeries& live, TLineSeries& average, GraphPoint point,
                       double maxSpanHours);

// The vertices a polyline through points [begin, end) keeps when drawn into
// pixel columns: column c holds the points with floor((x - xMin) * scale)
// equal to c. Per column the first, the lowest, the highest and the last
// point are kept (the first of equal lows and highs; a column starting with
// a NaN reading keeps only its ends). A kept vertex takes the merged colour
// of every point since the previous kept one, and every vertex of a column
// also that of the whole column, so a red stretch never vanishes however
// short it is. Uses the block summaries: the work follows the number of
// columns, not of points.
struct KeptVertex {
    std::size_t index;
    TColor incoming; // colour of the segment leading here
};
std::vector<KeptVertex> DecimateToColumns(const TLineSeries& series, std::size_t begin,
                                          std::size_t end, double xMin, double scale);

} // namespace korvinet::graph
