#include "graph/line_series.h"

#include "platform/datetime.h"
#include "platform/regional.h"

#include <QTime>
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace korvinet::graph {

namespace {

constexpr std::size_t kNone = SeriesSummary::npos;

} // namespace

void TLineSeries::IndexTraits::Merge(SeriesSummary& acc, const SeriesSummary& s) {
    if (s.minAt != kNone && (acc.minAt == kNone || s.minY < acc.minY)) {
        acc.minY = s.minY;
        acc.minAt = s.minAt;
    }
    if (s.maxAt != kNone && (acc.maxAt == kNone || s.maxY > acc.maxY)) {
        acc.maxY = s.maxY;
        acc.maxAt = s.maxAt;
    }
    acc.color = MergeSegmentColor(acc.color, s.color);
}

void TLineSeries::IndexTraits::Add(SeriesSummary& acc, const Stored& p, std::uint64_t number) {
    if (!std::isnan(p.y)) {
        if (acc.minAt == kNone || p.y < acc.minY) {
            acc.minY = p.y;
            acc.minAt = static_cast<std::size_t>(number);
        }
        if (acc.maxAt == kNone || p.y > acc.maxY) {
            acc.maxY = p.y;
            acc.maxAt = static_cast<std::size_t>(number);
        }
    }
    acc.color = MergeSegmentColor(acc.color, p.color);
}

TimeLabelFormat TimeLabelFormat::LongTime(const platform::Regional& regional) {
    return {regional.Locale(), regional.LongTimePattern()};
}

QString TimeLabelFormat::Text(double dateTime) const {
    return locale.toString(QTime::fromMSecsSinceStartOfDay(platform::SplitDateTime(dateTime).ms),
                           pattern);
}

SeriesSummary TLineSeries::Summary(std::size_t begin, std::size_t end) const {
    SeriesSummary s = points_.Query(begin, end);
    // Numbers to indexes.
    if (s.minAt != kNone)
        s.minAt -= points_.Base();
    if (s.maxAt != kNone)
        s.maxAt -= points_.Base();
    return s;
}

void TLineSeries::Add(double x, double y, TColor color) {
    SumAdd(y);
    rangeValid_ = false;
    points_.Add(Stored{x, y, color});
    Changed();
}

void TLineSeries::RemoveFirst() {
    RemoveFirst(1);
}

void TLineSeries::RemoveFirst(std::size_t count) {
    count = std::min(count, points_.Size());
    if (count == 0)
        return;
    if (count == points_.Size()) {
        Clear();
        return;
    }
    for (std::size_t i = 0; i < count; ++i)
        SumRemove(points_[i].y);
    points_.RemoveFirst(count);
    rangeValid_ = false;
    Changed();
}

void TLineSeries::Clear() {
    points_.Clear();
    ResetStats();
    Changed();
}

void TLineSeries::TakePoints(TLineSeries& other) {
    points_ = std::move(other.points_);
    sum_ = other.sum_;
    compensation_ = other.compensation_;
    nans_ = other.nans_;
    plusInf_ = other.plusInf_;
    minusInf_ = other.minusInf_;
    rangeValid_ = false;
    other.Clear();
    Changed();
}

double TLineSeries::FirstX() const {
    return points_.Empty() ? 0.0 : points_.Front().x;
}

double TLineSeries::LastX() const {
    return points_.Empty() ? 0.0 : points_.Back().x;
}

double TLineSeries::LastY() const {
    return points_.Empty() ? 0.0 : points_.Back().y;
}

double TLineSeries::MinY() const {
    if (!rangeValid_) {
        min_ = max_ = 0.0;
        if (!points_.Empty()) {
            // As a pass from the first point with "less than" would find it:
            // a NaN first reading stays the answer, later NaNs never are.
            const double first = points_.Front().y;
            const SeriesSummary s = Summary(0, points_.Size());
            min_ = std::isnan(first) ? first : s.minY;
            max_ = std::isnan(first) ? first : s.maxY;
        }
        rangeValid_ = true;
    }
    return min_;
}

double TLineSeries::MaxY() const {
    MinY();
    return max_;
}

double TLineSeries::TotalY() const {
    if (nans_ > 0 || (plusInf_ > 0 && minusInf_ > 0))
        return std::numeric_limits<double>::quiet_NaN();
    if (plusInf_ > 0)
        return std::numeric_limits<double>::infinity();
    if (minusInf_ > 0)
        return -std::numeric_limits<double>::infinity();
    return sum_ + compensation_;
}

void TLineSeries::SumAdd(double y) {
    if (std::isnan(y)) {
        ++nans_;
    } else if (std::isinf(y)) {
        ++(y > 0 ? plusInf_ : minusInf_);
    } else {
        const double t = sum_ + y;
        compensation_ += std::fabs(sum_) >= std::fabs(y) ? (sum_ - t) + y : (y - t) + sum_;
        sum_ = t;
    }
}

void TLineSeries::SumRemove(double y) {
    if (std::isnan(y))
        --nans_;
    else if (std::isinf(y))
        --(y > 0 ? plusInf_ : minusInf_);
    else
        SumAdd(-y);
}

void TLineSeries::ResetStats() {
    sum_ = compensation_ = 0.0;
    nans_ = plusInf_ = minusInf_ = 0;
    rangeValid_ = false;
}

void TLineSeries::Changed() {
    if (onChange_)
        onChange_();
}

std::size_t TrimToSpan(TLineSeries& series, double maxSpanHours) {
    const std::size_t count = series.Count();
    if (count < 2)
        return 0;
    const double lastX = series.LastX();
    // A millisecond of slack, so that a point exactly one span older than the
    // newest stays although hours-to-days conversion rounds in the last bit.
    const double maxDays = maxSpanHours * (1.0 / 24.0) + 1.0 / 86400000.0;
    // Count first, then erase once: the same points as removing one at a
    // time, with one change notice.
    std::size_t remove = 0;
    while (remove + 1 < count && !(maxDays >= lastX - series.XValue(remove)))
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
    live.Add(point.x, point.y, point.color);
    TrimToSpan(live, maxSpanHours);
    RefreshAverage(live, average);
}

namespace {

// Keeps the vertices of the column [i, j), read point by point from `from`
// (the deque read sequentially is far cheaper than indexed): the first, the
// lowest, the highest and the last point, each with the merged colour of
// the points since the previous kept one. Returns the column's colour.
template <class It>
TColor ScanColumn(It from, std::size_t i, std::size_t j, std::vector<KeptVertex>& kept) {
    const It to = from + static_cast<std::ptrdiff_t>(j - i);
    std::size_t lowest = i;
    std::size_t highest = i;
    double lowY = from->y;
    double highY = from->y;
    std::size_t m = i + 1;
    for (It it = from + 1; it != to; ++it, ++m) {
        const double y = it->y;
        if (y < lowY) {
            lowY = y;
            lowest = m;
        }
        if (y > highY) {
            highY = y;
            highest = m;
        }
    }
    const std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest), j - 1};
    int k = 0;
    TColor merged = kDefaultPointColor;
    TColor columnColor = kDefaultPointColor;
    m = i;
    for (It it = from; it != to; ++it, ++m) {
        const TColor c = it->color;
        merged = MergeSegmentColor(merged, c);
        columnColor = MergeSegmentColor(columnColor, c);
        while (k < 4 && keep[k] < m)
            ++k;
        if (k < 4 && keep[k] == m) {
            kept.push_back({m, merged});
            merged = kDefaultPointColor;
        }
    }
    return columnColor;
}

} // namespace

std::vector<KeptVertex> DecimateToColumns(const TLineSeries& series, std::size_t begin,
                                          std::size_t end, double xMin, double scale) {
    std::vector<KeptVertex> kept;
    if (begin >= end)
        return kept;
    const auto& points = series.points_.Points();
    const auto columnOf = [&](double x) {
        return static_cast<long long>(std::floor((x - xMin) * scale));
    };
    const auto column = [&](std::size_t i) { return columnOf(points[i].x); };
    // A column of up to this many points is cheaper read point by point than
    // through the summaries.
    constexpr std::size_t kScanLimit = 256;
    const double endX = points[end - 1].x;
    const double columns =
        std::floor((endX - xMin) * scale) - std::floor((points[begin].x - xMin) * scale) + 1;
    // With a few dozen points a column, walking through every point finds the
    // columns' ends sooner than searching for them.
    const bool walk = static_cast<double>(end - begin) <= columns * 64;
    if (walk)
        kept.reserve(static_cast<std::size_t>(std::min(columns, 1e6)) * 4);
    std::size_t i = begin;
    while (i < end) {
        const auto from = points.begin() + static_cast<std::ptrdiff_t>(i);
        std::size_t j = i + 1;
        if (walk) {
            const long long col = columnOf(from->x);
            for (auto it = from + 1; j < end && columnOf(it->x) == col; ++it)
                ++j;
        } else {
            const double xi = from->x;
            j = ColumnEnd(column, i, end, [&](long long c) {
                const double boundary = xMin + static_cast<double>(c + 1) / scale;
                return endX > xi ? (boundary - xi) / (endX - xi) : 1.0;
            });
        }
        const std::size_t columnStart = kept.size();
        TColor columnColor = kDefaultPointColor;
        if (j - i <= kScanLimit) {
            columnColor = ScanColumn(from, i, j, kept);
        } else {
            // One query answers for the whole column: its first lowest and
            // highest (the first point itself on a tie) and its colour.
            const SeriesSummary whole = series.Summary(i, j);
            std::size_t lowest = i;
            std::size_t highest = i;
            if (!std::isnan(from->y)) {
                lowest = whole.minAt;
                highest = whole.maxAt;
            }
            const std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest),
                                         j - 1};
            columnColor = whole.color;
            // With no alarm colour, or red anywhere, every vertex of the
            // column gets the column's colour whatever its own stretch had;
            // only mixed other alarm colours need the stretches' own.
            const bool stretches = columnColor != kDefaultPointColor && columnColor != kColorRed;
            std::size_t previous = i; // the points after it up to a kept one merge into it
            for (int k = 0; k < 4; ++k) {
                if (k > 0 && keep[k] == keep[k - 1])
                    continue;
                TColor merged = columnColor;
                if (stretches)
                    merged = k == 0 ? from->color : series.Summary(previous + 1, keep[k] + 1).color;
                kept.push_back({keep[k], merged});
                previous = keep[k];
            }
        }
        // Segments inside one column may be shorter than a pixel; the
        // segment entering the column is the one that shows, so it takes
        // the column's alarm colour as well.
        if (columnColor != kDefaultPointColor) {
            for (std::size_t v = columnStart; v < kept.size(); ++v)
                kept[v].incoming = MergeSegmentColor(kept[v].incoming, columnColor);
        }
        i = j;
    }
    return kept;
}

} // namespace korvinet::graph
