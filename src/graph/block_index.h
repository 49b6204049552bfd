#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace korvinet::graph {

// Points kept in ascending x (time) order with a hierarchy of block
// summaries (16 points, 16 blocks, ...) that answers for any stretch of
// points in O(log n), so a drawing need not visit every point.
//
// A live graph grows at the end and loses its oldest points at the front;
// both cost the same however long the series is. A point of equal x goes
// after the ones already there, so a reading taken after the clock was set
// back lands in its time slot without reordering the others. A point before
// the end puts the summaries from it on out of date until the next query:
// points added out of order in a row cost one rebuild, not one each.
//
// Traits gives the point type (with a double `x`), the Summary type (its
// default value summarises nothing), the number of levels kLevels, and
//   static void Add(Summary&, const Point&, std::uint64_t number);
//   static void Merge(Summary&, const Summary&);
// which fold a point or the summary of the stretch after it into a summary.
// Points are numbered from the first ever added (Base() is the number of the
// current first point), so block boundaries stay put when the front goes.
template <class Traits> class BlockIndexedPoints {
public:
    using Point = typename Traits::Point;
    using Summary = typename Traits::Summary;

    const std::deque<Point>& Points() const { return points_; }
    std::size_t Size() const { return points_.size(); }
    bool Empty() const { return points_.empty(); }
    const Point& operator[](std::size_t i) const { return points_[i]; }
    const Point& Front() const { return points_.front(); }
    const Point& Back() const { return points_.back(); }
    // The number of the first point.
    std::uint64_t Base() const { return base_; }

    // First index whose x is not less than x (Size() when none).
    std::size_t LowerBound(double x) const {
        const auto at = std::lower_bound(points_.begin(), points_.end(), x,
                                         [](const Point& p, double v) { return p.x < v; });
        return static_cast<std::size_t>(at - points_.begin());
    }
    // First index whose x is greater than x (Size() when none).
    std::size_t UpperBound(double x) const {
        const auto at = std::upper_bound(points_.begin(), points_.end(), x,
                                         [](double v, const Point& p) { return v < p.x; });
        return static_cast<std::size_t>(at - points_.begin());
    }

    // The summary of the points [begin, end), folded left to right; the
    // numbers it gets are points' numbers, not indexes.
    Summary Query(std::size_t begin, std::size_t end) const;

    // Adds the point at its place in x order.
    void Add(const Point& p);
    // Removes the first count points (all of them when count is larger).
    void RemoveFirst(std::size_t count);
    void Clear();

private:
    static constexpr int kBlockBits = 4;
    static constexpr int kLevels = Traits::kLevels;

    void Rebuild() const;

    std::deque<Point> points_;
    std::uint64_t base_ = 0;
    // levels_[L] holds the summaries of blocks of 16^(L+1) points, the first
    // being block number levelFirst_[L].
    mutable std::deque<Summary> levels_[kLevels];
    mutable std::uint64_t levelFirst_[kLevels] = {};
    mutable std::optional<std::uint64_t> staleFrom_;
};

template <class Traits>
typename Traits::Summary BlockIndexedPoints<Traits>::Query(std::size_t begin,
                                                           std::size_t end) const {
    if (staleFrom_)
        Rebuild();
    Summary acc;
    std::uint64_t at = base_ + begin;
    const std::uint64_t stop = base_ + std::min(end, points_.size());
    // Left to right, each step the largest whole block that starts here and
    // ends in range: at most 2 * 15 steps per level.
    while (at < stop) {
        // The block size that `at` is aligned to, cut to what fits the range.
        int level = std::min(kLevels, std::countr_zero(at) / kBlockBits);
        while (level > 0 && at + (std::uint64_t{1} << (kBlockBits * level)) > stop)
            --level;
        if (level == 0) {
            Traits::Add(acc, points_[at - base_], at);
            ++at;
            continue;
        }
        const int bits = kBlockBits * level;
        Traits::Merge(acc, levels_[level - 1][(at >> bits) - levelFirst_[level - 1]]);
        at += std::uint64_t{1} << bits;
    }
    return acc;
}

template <class Traits> void BlockIndexedPoints<Traits>::Add(const Point& p) {
    if (points_.empty() || !(p.x < points_.back().x)) {
        points_.push_back(p);
        if (staleFrom_)
            return; // the next rebuild takes it in
        const std::uint64_t at = base_ + points_.size() - 1;
        for (int level = 0; level < kLevels; ++level) {
            const std::uint64_t block = at >> (kBlockBits * (level + 1));
            auto& summaries = levels_[level];
            if (summaries.empty())
                levelFirst_[level] = block;
            if (block >= levelFirst_[level] + summaries.size())
                summaries.emplace_back();
            Traits::Add(summaries.back(), p, at);
        }
        return;
    }
    const std::size_t index = UpperBound(p.x);
    points_.insert(points_.begin() + static_cast<std::ptrdiff_t>(index), p);
    staleFrom_ = std::min(staleFrom_.value_or(base_ + index), base_ + index);
}

template <class Traits> void BlockIndexedPoints<Traits>::RemoveFirst(std::size_t count) {
    if (count >= points_.size()) {
        Clear();
        return;
    }
    points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(count));
    base_ += count;
    if (staleFrom_)
        staleFrom_ = std::max(*staleFrom_, base_);
    // Blocks wholly before the new first point go; a block cut by it keeps
    // a summary that no query reads, as queries only take whole blocks.
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        while (!levels_[level].empty() && ((levelFirst_[level] + 1) << bits) <= base_) {
            levels_[level].pop_front();
            ++levelFirst_[level];
        }
    }
}

template <class Traits> void BlockIndexedPoints<Traits>::Clear() {
    points_.clear();
    for (auto& level : levels_)
        level.clear();
    std::fill(std::begin(levelFirst_), std::end(levelFirst_), 0);
    base_ = 0;
    staleFrom_.reset();
}

template <class Traits> void BlockIndexedPoints<Traits>::Rebuild() const {
    // Each level is cut at the block holding the first stale point and
    // refilled from the level below (the points for the first), so the work
    // follows what lies after it.
    const std::uint64_t at = *staleFrom_;
    staleFrom_.reset();
    const std::uint64_t end = base_ + points_.size();
    for (int level = 0; level < kLevels; ++level) {
        const int bits = kBlockBits * (level + 1);
        auto& summaries = levels_[level];
        const std::uint64_t first = at >> bits;
        while (!summaries.empty() && levelFirst_[level] + summaries.size() > first)
            summaries.pop_back();
        if (summaries.empty())
            levelFirst_[level] = first;
        for (std::uint64_t block = first; (block << bits) < end; ++block) {
            const std::uint64_t from = std::max(block << bits, base_);
            const std::uint64_t to = std::min((block + 1) << bits, end);
            Summary s;
            if (level == 0) {
                for (std::uint64_t i = from; i < to; ++i)
                    Traits::Add(s, points_[i - base_], i);
            } else {
                const int lowerBits = kBlockBits * level;
                const auto& lower = levels_[level - 1];
                for (std::uint64_t b = from >> lowerBits; b <= (to - 1) >> lowerBits; ++b)
                    Traits::Merge(s, lower[b - levelFirst_[level - 1]]);
            }
            summaries.push_back(s);
        }
    }
}

// The end of the pixel column that point i lies in: the first index after i
// whose column differs (`end` when none). `column` maps an index to its
// column and never decreases; `shareOf` tells for a column how far from
// point i to point end - 1 its right edge lies (cut to 0 to 1; NaN counts
// as 0). Readings come at a steady pace, so the search starts from that
// share of the points, gallops out from it and halves: a long series is
// touched in few places.
template <class Column, class ShareOf>
std::size_t ColumnEnd(const Column& column, std::size_t i, std::size_t end,
                      const ShareOf& shareOf) {
    const auto c = column(i);
    double share = shareOf(c);
    share = share > 0.0 ? std::min(share, 1.0) : 0.0;
    const std::size_t guess = std::clamp<std::size_t>(
        i + static_cast<std::size_t>(share * static_cast<double>(end - 1 - i)), i + 1, end);
    std::size_t lo = i;   // in the column
    std::size_t hi = end; // past it, or end
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
            lo = hi - step; // stopped at a point of the column
    }
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (column(mid) == c)
            lo = mid;
        else
            hi = mid;
    }
    return hi;
}

} // namespace korvinet::graph
