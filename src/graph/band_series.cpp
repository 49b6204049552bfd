#include "graph/band_series.h"

#include "graph/chart.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <bit>
#include <cmath>

namespace korvinet {

namespace {

void Merge(TBandSeries::Extent& acc, const TBandSeries::Extent& e) {
    if (!e.any)
        return;
    acc.low = std::min(acc.low, e.low);
    acc.high = std::max(acc.high, e.high);
    acc.any = true;
}

void MergePoint(TBandSeries::Extent& acc, const TBandSeries::Point& p) {
    if (std::isfinite(p.low) && std::isfinite(p.high))
        Merge(acc, {p.low, p.high, true});
}

} // namespace

std::size_t TBandSeries::LowerBound(double x) const {
    const auto at = std::lower_bound(points_.begin(), points_.end(), x,
                                     [](const Point& p, double value) { return p.x < value; });
    return static_cast<std::size_t>(at - points_.begin());
}

std::size_t TBandSeries::UpperBound(double x) const {
    const auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                     [](double value, const Point& p) { return value < p.x; });
    return static_cast<std::size_t>(at - points_.begin());
}

TBandSeries::Extent TBandSeries::Range(std::size_t begin, std::size_t end) const {
    if (staleFrom_)
        IndexRebuild();
    Extent acc;
    std::uint64_t at = base_ + begin;
    const std::uint64_t stop = base_ + std::min(end, points_.size());
    // Left to right, each step the largest whole block that starts here and
    // ends in range: at most 2 * 15 steps per level.
    while (at < stop) {
        int level = std::min(kLevels, std::countr_zero(at) / kBlockBits);
        while (level > 0 && at + (std::uint64_t{1} << (kBlockBits * level)) > stop)
            --level;
        if (level == 0) {
            MergePoint(acc, points_[at - base_]);
            ++at;
            continue;
        }
        const int bits = kBlockBits * level;
        Merge(acc, levels_[level - 1][(at >> bits) - levelFirst_[level - 1]]);
        at += std::uint64_t{1} << bits;
    }
    return acc;
}

void TBandSeries::Add(double x, double low, double high) {
    const Point point{x, low, high};
    if (points_.empty() || points_.back().x <= x) {
        points_.push_back(point);
        if (!staleFrom_)
            IndexAppend(base_ + points_.size() - 1, point);
        return;
    }
    const std::size_t index = UpperBound(x);
    points_.insert(points_.begin() + static_cast<std::ptrdiff_t>(index), point);
    staleFrom_ = std::min(staleFrom_.value_or(base_ + index), base_ + index);
}

void TBandSeries::RemoveBefore(double x) {
    const std::size_t count = LowerBound(x);
    if (count == points_.size()) {
        Clear();
        return;
    }
    points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(count));
    base_ += count;
    if (staleFrom_)
        staleFrom_ = std::max(*staleFrom_, base_);
    // Blocks wholly before the new first point go; a block cut by it keeps
    // an extent that no query reads, as queries only take whole blocks.
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        while (!levels_[level].empty() && ((levelFirst_[level] + 1) << bits) <= base_) {
            levels_[level].pop_front();
            ++levelFirst_[level];
        }
    }
}

void TBandSeries::Clear() {
    points_.clear();
    for (auto& level : levels_)
        level.clear();
    std::fill(std::begin(levelFirst_), std::end(levelFirst_), 0);
    base_ = 0;
    staleFrom_.reset();
}

void TBandSeries::IndexAppend(std::uint64_t at, const Point& p) {
    for (int level = 0; level < kLevels; ++level) {
        const std::uint64_t block = at >> (kBlockBits * (level + 1));
        auto& blocks = levels_[level];
        if (blocks.empty())
            levelFirst_[level] = block;
        if (block >= levelFirst_[level] + blocks.size())
            blocks.emplace_back();
        MergePoint(blocks.back(), p);
    }
}

void TBandSeries::IndexRebuild() const {
    // Each level is cut at the block holding the first stale point and
    // refilled from the level below (the points for the first), so the work
    // follows what lies after it.
    const std::uint64_t at = *staleFrom_;
    staleFrom_.reset();
    const std::uint64_t end = base_ + points_.size();
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        auto& blocks = levels_[level];
        const std::uint64_t first = at >> bits;
        while (!blocks.empty() && levelFirst_[level] + blocks.size() > first)
            blocks.pop_back();
        if (blocks.empty())
            levelFirst_[level] = first;
        for (std::uint64_t block = first; (block << bits) < end; ++block) {
            const std::uint64_t from = std::max(block << bits, base_);
            const std::uint64_t to = std::min((block + 1) << bits, end);
            Extent e;
            if (level == 0) {
                for (std::uint64_t i = from; i < to; ++i)
                    MergePoint(e, points_[i - base_]);
            } else {
                const int lowerBits = kBlockBits * level;
                const auto& lower = levels_[level - 1];
                for (std::uint64_t b = from >> lowerBits; b <= (to - 1) >> lowerBits; ++b)
                    Merge(e, lower[b - levelFirst_[level - 1]]);
            }
            blocks.push_back(e);
        }
    }
}

void DrawBand(QPainter& painter, const ChartLayout& layout, const TBandSeries& band) {
    const std::deque<TBandSeries::Point>& points = band.Points();
    const std::size_t count = points.size();
    if (count == 0)
        return;
    const auto column = [&](std::size_t i) { return std::floor(layout.Map(points[i].x, 0.0).x()); };
    // The first point after i in another column (or `end`): guessed from the
    // points' spacing (readings come at a steady pace), then galloping out
    // from the guess and halving, so a long band is touched in few places.
    const auto columnEnd = [&](std::size_t i, std::size_t end) {
        const double c = column(i);
        const double first = points[i].x;
        const double last = points[end - 1].x;
        std::size_t guess = i + 1;
        if (last > first) {
            const double share =
                std::clamp((layout.XToData(c + 1) - first) / (last - first), 0.0, 1.0);
            guess = std::clamp<std::size_t>(
                i + static_cast<std::size_t>(share * static_cast<double>(end - 1 - i)), i + 1, end);
        }
        std::size_t lo = i;   // in the column
        std::size_t hi = end; // past it
        std::size_t step = 1;
        if (guess < end && column(guess) == c) {
            lo = guess;
            for (; lo + step < end && column(lo + step) == c; step *= 2)
                lo += step;
            hi = std::min(lo + step, end);
        } else {
            hi = guess;
            for (; step < hi - lo && column(hi - step) != c; step *= 2)
                hi -= step;
            if (step < hi - lo)
                lo = hi - step;
        }
        while (hi - lo > 1) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (column(mid) == c)
                lo = mid;
            else
                hi = mid;
        }
        return hi;
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

} // namespace korvinet
