#include "graph/line_series.h"

#include <algorithm>

namespace korvinet {

void TLineSeries::Add(double x, double y, QString label, TColor color) {
    GraphPoint p{x, y, std::move(label), color};
    if (points_.empty() || !(x < points_.back().x)) {
        points_.push_back(std::move(p));
    } else {
        // Just after the last point whose x is less than or equal to it.
        auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                   [](double v, const GraphPoint& q) { return v < q.x; });
        points_.insert(at, std::move(p));
    }
    Changed();
}

void TLineSeries::RemoveFirst() {
    RemoveFirst(1);
}

void TLineSeries::RemoveFirst(std::size_t count) {
    count = std::min(count, points_.size());
    if (count == 0)
        return;
    points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(count));
    Changed();
}

void TLineSeries::Clear() {
    points_.clear();
    Changed();
}

double TLineSeries::FirstX() const {
    return points_.empty() ? 0.0 : points_.front().x;
}

double TLineSeries::LastX() const {
    return points_.empty() ? 0.0 : points_.back().x;
}

double TLineSeries::LastY() const {
    return points_.empty() ? 0.0 : points_.back().y;
}

double TLineSeries::MinY() const {
    Recompute();
    return min_;
}

double TLineSeries::MaxY() const {
    Recompute();
    return max_;
}

double TLineSeries::TotalY() const {
    Recompute();
    return total_;
}

void TLineSeries::Changed() {
    statsValid_ = false;
    if (onChange_)
        onChange_();
}

void TLineSeries::Recompute() const {
    if (statsValid_)
        return;
    min_ = max_ = total_ = 0.0;
    if (!points_.empty()) {
        min_ = max_ = points_.front().y;
        for (const GraphPoint& p : points_) {
            min_ = std::min(min_, p.y);
            max_ = std::max(max_, p.y);
            total_ += p.y;
        }
    }
    statsValid_ = true;
}

std::size_t TrimToSpan(TLineSeries& series, double maxSpanHours) {
    const auto& pts = series.Points();
    if (pts.size() < 2)
        return 0;
    const double lastX = pts.back().x;
    // A millisecond of slack, so that a point exactly one span older than the
    // newest stays although hours-to-days conversion rounds in the last bit.
    const double maxDays = maxSpanHours * (1.0 / 24.0) + 1.0 / 86400000.0;
    // Count first, then erase once: the same points as removing one at a
    // time, without shifting the list once per removed point.
    std::size_t remove = 0;
    while (remove + 1 < pts.size() && !(maxDays >= lastX - pts[remove].x))
        ++remove;
    series.RemoveFirst(remove);
    return remove;
}

void RefreshAverage(const TLineSeries& readings, TLineSeries& average) {
    average.Clear();
    if (readings.IsEmpty())
        return;
    const double mean = readings.TotalY() / static_cast<double>(readings.Count());
    average.Add(readings.FirstX(), mean);
    average.Add(readings.LastX(), mean);
}

void AppendLiveReading(TLineSeries& live, TLineSeries& average, GraphPoint point,
                       double maxSpanHours) {
    live.Add(point.x, point.y, std::move(point.label), point.color);
    TrimToSpan(live, maxSpanHours);
    RefreshAverage(live, average);
}

} // namespace korvinet
