#pragma once

#include "graph/graph_point.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <vector>

namespace korvinet {

// One line of the chart: graph points kept in ascending x (time) order.
//
// Points with equal x keep their order of arrival, so a reading taken after
// the clock was set back lands in its time slot without reordering the ones
// already there. Minimum, maximum and total of y are recomputed over all
// points once after a change, at the first query; at 57,600 points a tick
// costs one pass instead of one per query.
//
// Queries on an empty series (FirstX, LastX, LastY, MinY, MaxY) are the
// caller's mistake; they return 0 rather than reading outside the list.
class TLineSeries {
public:
    TLineSeries(QString title, TColor color) : title_(std::move(title)), color_(color) {}

    const QString& Title() const { return title_; }
    TColor SeriesColor() const { return color_; }

    const std::vector<GraphPoint>& Points() const { return points_; }
    std::size_t Count() const { return points_.size(); }
    bool IsEmpty() const { return points_.empty(); }
    double XValue(std::size_t i) const { return points_[i].x; }
    double YValue(std::size_t i) const { return points_[i].y; }

    // Adds the point at its place in x order.
    void Add(double x, double y, QString label = QString(), TColor color = kDefaultPointColor);
    void RemoveFirst();
    // Removes the first count points (all of them when count is larger).
    void RemoveFirst(std::size_t count);
    void Clear();

    double FirstX() const;
    double LastX() const;
    double LastY() const;
    double MinY() const;
    double MaxY() const;
    double TotalY() const;

    // Called after every change; the chart uses it to repaint.
    void SetChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }

private:
    void Changed();
    void Recompute() const;

    QString title_;
    TColor color_;
    std::vector<GraphPoint> points_;
    std::function<void()> onChange_;

    mutable bool statsValid_ = false;
    mutable double min_ = 0.0;
    mutable double max_ = 0.0;
    mutable double total_ = 0.0;
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

} // namespace korvinet
