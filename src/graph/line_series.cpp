#include "graph/line_series.h"

#include "platform/datetime.h"
#include "platform/regional.h"

#include <QTime>
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace korvinet {

namespace {

constexpr std::size_t kNone = SeriesSummary::npos;

void MergeInto(SeriesSummary& acc, const SeriesSummary& s) {
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

void MergePoint(SeriesSummary& acc, double y, std::size_t at, TColor color) {
    if (!std::isnan(y)) {
        if (acc.minAt == kNone || y < acc.minY) {
            acc.minY = y;
            acc.minAt = at;
        }
        if (acc.maxAt == kNone || y > acc.maxY) {
            acc.maxY = y;
            acc.maxAt = at;
        }
    }
    acc.color = MergeSegmentColor(acc.color, color);
}

} // namespace

TimeLabelFormat TimeLabelFormat::LongTime(const Regional& regional) {
    return {regional.Locale(), regional.LongTimePattern()};
}

QString TimeLabelFormat::Text(double dateTime) const {
    return locale.toString(QTime::fromMSecsSinceStartOfDay(SplitDateTime(dateTime).ms), pattern);
}

std::size_t TLineSeries::LowerBound(double x) const {
    auto it = std::lower_bound(points_.begin(), points_.end(), x,
                               [](const Stored& p, double v) { return p.x < v; });
    return static_cast<std::size_t>(it - points_.begin());
}

std::size_t TLineSeries::UpperBound(double x) const {
    auto it = std::upper_bound(points_.begin(), points_.end(), x,
                               [](double v, const Stored& p) { return v < p.x; });
    return static_cast<std::size_t>(it - points_.begin());
}

SeriesSummary TLineSeries::Summary(std::size_t begin, std::size_t end) const {
    SeriesSummary acc;
    end = std::min(end, points_.size());
    std::uint64_t at = base_ + begin;
    const std::uint64_t stop = base_ + end;
    // Left to right, each step the largest whole block that starts here and
    // ends in range: at most 2 * 15 steps per level.
    while (at < stop) {
        // The block size that `at` is aligned to, cut to what fits the range.
        int level = at == 0 ? kLevels : std::min(kLevels, std::countr_zero(at) / kBlockBits);
        while (level > 0 && at + (std::uint64_t{1} << (kBlockBits * level)) > stop)
            --level;
        if (level == 0) {
            const Stored& p = points_[at - base_];
            MergePoint(acc, p.y, at - base_, p.color);
            ++at;
            continue;
        }
        const int bits = kBlockBits * level;
        SeriesSummary block = levels_[level - 1][(at >> bits) - levelFirst_[level - 1]];
        if (block.minAt != kNone)
            block.minAt -= base_;
        if (block.maxAt != kNone)
            block.maxAt -= base_;
        MergeInto(acc, block);
        at += std::uint64_t{1} << bits;
    }
    return acc;
}

void TLineSeries::Add(double x, double y, TColor color) {
    Insert(Stored{x, y, color});
}

void TLineSeries::Insert(const Stored& p) {
    SumAdd(p.y);
    rangeValid_ = false;
    if (points_.empty() || !(p.x < points_.back().x)) {
        points_.push_back(p);
        IndexAppend(base_ + points_.size() - 1, p);
    } else {
        // Just after the last point whose x is less than or equal to it.
        auto at = std::upper_bound(points_.begin(), points_.end(), p.x,
                                   [](double v, const Stored& q) { return v < q.x; });
        const auto index = static_cast<std::uint64_t>(at - points_.begin());
        points_.insert(at, p);
        IndexRebuildFrom(base_ + index);
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
    if (count == points_.size()) {
        Clear();
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        SumRemove(points_.front().y);
        points_.pop_front();
    }
    base_ += count;
    // Blocks wholly before the new first point go; a block cut by it keeps
    // a summary that no query reads, as queries only take whole blocks.
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        while (!levels_[level].empty() && ((levelFirst_[level] + 1) << bits) <= base_) {
            levels_[level].pop_front();
            ++levelFirst_[level];
        }
    }
    rangeValid_ = false;
    Changed();
}

void TLineSeries::Clear() {
    points_.clear();
    for (auto& level : levels_)
        level.clear();
    std::fill(std::begin(levelFirst_), std::end(levelFirst_), 0);
    base_ = 0;
    ResetStats();
    Changed();
}

void TLineSeries::TakePoints(TLineSeries& other) {
    points_ = std::move(other.points_);
    base_ = other.base_;
    for (int level = 0; level < kLevels; ++level) {
        levels_[level] = std::move(other.levels_[level]);
        levelFirst_[level] = other.levelFirst_[level];
    }
    sum_ = other.sum_;
    compensation_ = other.compensation_;
    nans_ = other.nans_;
    plusInf_ = other.plusInf_;
    minusInf_ = other.minusInf_;
    rangeValid_ = false;
    other.points_.clear();
    other.Clear();
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
    if (!rangeValid_) {
        min_ = max_ = 0.0;
        if (!points_.empty()) {
            // As a pass from the first point with "less than" would find it:
            // a NaN first reading stays the answer, later NaNs never are.
            const double first = points_.front().y;
            const SeriesSummary s = Summary(0, points_.size());
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

void TLineSeries::IndexAppend(std::uint64_t at, const Stored& p) {
    for (int level = 0; level < kLevels; ++level) {
        const std::uint64_t block = at >> (kBlockBits * (level + 1));
        auto& summaries = levels_[level];
        if (summaries.empty())
            levelFirst_[level] = block;
        if (summaries.empty() || block >= levelFirst_[level] + summaries.size())
            summaries.emplace_back();
        MergePoint(summaries.back(), p.y, static_cast<std::size_t>(at), p.color);
    }
}

void TLineSeries::IndexRebuildFrom(std::uint64_t at) {
    // Each level is cut at the block holding `at` and refilled from the level
    // below (the points for the first), so the work follows what lies after.
    const std::uint64_t end = base_ + points_.size();
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        auto& summaries = levels_[level];
        const std::uint64_t firstBlock = at >> bits;
        if (summaries.empty())
            levelFirst_[level] = firstBlock;
        while (!summaries.empty() && levelFirst_[level] + summaries.size() > firstBlock)
            summaries.pop_back();
        if (summaries.empty())
            levelFirst_[level] = firstBlock;
        for (std::uint64_t block = firstBlock; (block << bits) < end; ++block) {
            const std::uint64_t from = std::max(block << bits, base_);
            const std::uint64_t to = std::min((block + 1) << bits, end);
            SeriesSummary s;
            if (level == 0) {
                for (std::uint64_t i = from; i < to; ++i) {
                    const Stored& p = points_[i - base_];
                    MergePoint(s, p.y, static_cast<std::size_t>(i), p.color);
                }
            } else {
                const int lowerBits = kBlockBits * level;
                const auto& lower = levels_[level - 1];
                for (std::uint64_t b = from >> lowerBits; b < ((to - 1) >> lowerBits) + 1; ++b)
                    MergeInto(s, lower[b - levelFirst_[level - 1]]);
            }
            summaries.push_back(s);
        }
    }
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

// Every point visited in order, for views of a few dozen points a column:
// a sequential walk through the deque beats seeking each column's end.
template <class It>
void DecimateSequentially(It it, std::size_t begin, std::size_t end, double xMin, double scale,
                          std::vector<KeptVertex>& kept) {
    auto column = [&](const It& p) {
        return static_cast<long long>(std::floor((p->x - xMin) * scale));
    };
    std::size_t i = begin;
    TColor merged = kDefaultPointColor;
    while (i < end) {
        const It first = it;
        const long long col = column(it);
        std::size_t j = i + 1;
        std::size_t lowest = i;
        std::size_t highest = i;
        double lowY = it->y;
        double highY = it->y;
        for (++it; j < end && column(it) == col; ++it, ++j) {
            if (it->y < lowY) {
                lowY = it->y;
                lowest = j;
            }
            if (it->y > highY) {
                highY = it->y;
                highest = j;
            }
        }
        const std::size_t last = j - 1;
        const std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest), last};
        int k = 0;
        const std::size_t columnStart = kept.size();
        TColor columnColor = kDefaultPointColor;
        std::size_t m = i;
        for (It p = first; m <= last; ++p, ++m) {
            merged = MergeSegmentColor(merged, p->color);
            columnColor = MergeSegmentColor(columnColor, p->color);
            while (k < 4 && keep[k] < m)
                ++k;
            if (k < 4 && keep[k] == m) {
                kept.push_back({m, merged});
                merged = kDefaultPointColor;
            }
        }
        if (columnColor != kDefaultPointColor) {
            for (std::size_t v = columnStart; v < kept.size(); ++v)
                kept[v].incoming = MergeSegmentColor(kept[v].incoming, columnColor);
        }
        i = j;
    }
}

} // namespace

std::vector<KeptVertex> DecimateToColumns(const TLineSeries& series, std::size_t begin,
                                          std::size_t end, double xMin, double scale) {
    std::vector<KeptVertex> kept;
    auto column = [&](std::size_t i) {
        return static_cast<long long>(std::floor((series.XValue(i) - xMin) * scale));
    };
    // A column of up to this many points is cheaper read point by point than
    // through the summaries.
    constexpr std::size_t kScanLimit = 256;
    if (begin >= end)
        return kept;
    const double columns = std::floor((series.XValue(end - 1) - xMin) * scale) -
                           std::floor((series.XValue(begin) - xMin) * scale) + 1;
    if (static_cast<double>(end - begin) <= columns * 64) {
        kept.reserve(static_cast<std::size_t>(std::min(columns, 1e6)) * 4);
        DecimateSequentially(series.points_.begin() + static_cast<std::ptrdiff_t>(begin), begin,
                             end, xMin, scale, kept);
        return kept;
    }
    std::size_t i = begin;
    const double endX = series.XValue(end - 1);
    while (i < end) {
        const long long col = column(i);
        // The column's end: guessed from the points' spacing (readings come
        // at a steady pace), then galloping out from the guess and halving,
        // so a long series is touched in few places.
        std::size_t lo = i;   // column(lo) == col
        std::size_t hi = end; // column(hi) != col or hi == end
        const double xi = series.XValue(i);
        const double boundary = xMin + static_cast<double>(col + 1) / scale;
        if (endX > xi && boundary > xi) {
            const double share = std::min(1.0, (boundary - xi) / (endX - xi));
            const auto guess = std::clamp<std::size_t>(
                i + static_cast<std::size_t>(share * static_cast<double>(end - 1 - i)), i + 1, end);
            std::size_t step = 1;
            if (guess < end && column(guess) == col) {
                lo = guess;
                while (lo + step < end && column(lo + step) == col) {
                    lo += step;
                    step *= 2;
                }
                hi = std::min(lo + step, end);
            } else {
                hi = guess;
                while (step < hi - lo && column(hi - step) != col) {
                    hi -= step;
                    step *= 2;
                }
                if (step < hi - lo)
                    lo = hi - step; // stopped at a point of the column
            }
        }
        while (hi - lo > 1) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (column(mid) == col)
                lo = mid;
            else
                hi = mid;
        }
        const std::size_t j = hi;
        const std::size_t last = j - 1;
        const std::size_t columnStart = kept.size();
        TColor columnColor = kDefaultPointColor;

        if (j - i <= kScanLimit) {
            // Sequentially through the deque: far cheaper than indexing it.
            const auto from = series.points_.begin() + static_cast<std::ptrdiff_t>(i);
            const auto to = from + static_cast<std::ptrdiff_t>(j - i);
            std::size_t lowest = i;
            std::size_t highest = i;
            double lowY = from->y;
            double highY = from->y;
            std::size_t m = i + 1;
            for (auto it = from + 1; it != to; ++it, ++m) {
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
            const std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest),
                                         last};
            int k = 0;
            TColor merged = kDefaultPointColor;
            m = i;
            for (auto it = from; it != to; ++it, ++m) {
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
        } else {
            // One query answers for the whole column: its first lowest and
            // highest (the first point itself on a tie) and its colour.
            const SeriesSummary whole = series.Summary(i, j);
            std::size_t lowest = i;
            std::size_t highest = i;
            if (!std::isnan(series.YValue(i))) {
                lowest = whole.minAt;
                highest = whole.maxAt;
            }
            const std::size_t keep[4] = {i, std::min(lowest, highest), std::max(lowest, highest),
                                         last};
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
                    merged = k == 0 ? series.PointColor(i)
                                    : series.Summary(previous + 1, keep[k] + 1).color;
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

} // namespace korvinet
