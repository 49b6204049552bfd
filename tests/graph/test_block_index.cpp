#include "graph/block_index.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace korvinet::graph {
namespace {

// Which points a summary took in: the numbers of the first and last, how
// many, the sum of their values, and whether each part began right after
// the one before. A point missed, taken twice, out of order or stale (its
// value not the one now at its number) shows.
struct Taken {
    std::uint64_t first = 0, last = 0, count = 0;
    double sum = 0; // of small whole numbers: exact in any order
    bool inOrder = true;
    bool operator==(const Taken&) const = default;
};

struct TestTraits {
    struct Point {
        double x;
        double value;
    };
    using Summary = Taken;
    static constexpr int kLevels = 3; // blocks of 16, 256 and 4096 points
    static void Add(Taken& acc, const Point& p, std::uint64_t number) {
        Merge(acc, {number, number, 1, p.value, true});
    }
    static void Merge(Taken& acc, const Taken& s) {
        if (s.count == 0)
            return;
        if (acc.count == 0) {
            acc = s;
            return;
        }
        acc.inOrder = acc.inOrder && s.inOrder && s.first == acc.last + 1;
        acc.last = s.last;
        acc.count += s.count;
        acc.sum += s.sum;
    }
};

TEST(BlockIndex, QueriesMatchAScanThroughAppendsRemovalsAndRebuilds) {
    enum Op { Append, Late, RemoveFirst, Clear };
    struct Step {
        Op op;
        int count;
        bool query = true; // false: the next step comes before any query
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"appends across blocks and levels", {{Append, 1}, {Append, 15}, {Append, 9000}}},
        {"front removals keep block numbers",
         {{Append, 9000}, {RemoveFirst, 17}, {RemoveFirst, 4079}, {Append, 300}}},
        {"late points rebuild from where they land",
         {{Append, 5000}, {Late, 1}, {Append, 40}, {Late, 25, false}, {Append, 70}}},
        {"removal after late points, before a query",
         {{Append, 5000}, {Late, 30, false}, {RemoveFirst, 2003, false}, {Append, 9}}},
        {"removing all or clearing starts over",
         {{Append, 700}, {RemoveFirst, 701}, {Append, 40}, {Late, 3}, {Clear, 0}, {Append, 33}}},
    };
    std::mt19937 random(17);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BlockIndexedPoints<TestTraits> points;
        double x = 0;
        const auto value = [&] { return static_cast<double>(random() % 1000); };
        for (const Step& step : c.steps) {
            for (int k = 0; k < step.count && step.op == Append; ++k)
                points.Add({x += 1 + random() % 3, value()});
            for (int k = 0; k < step.count && step.op == Late; ++k) // some on a point's x
                points.Add({points[random() % points.Size()].x + (k % 2 ? 0.5 : 0), value()});
            if (step.op == RemoveFirst)
                points.RemoveFirst(static_cast<std::size_t>(step.count));
            if (step.op == Clear)
                points.Clear();
            if (!step.query)
                continue;
            const std::size_t n = points.Size();
            std::vector<double> before(n + 1, 0); // sums of the values before each index
            for (std::size_t i = 0; i < n; ++i)
                before[i + 1] = before[i] + points[i].value;
            std::vector<std::size_t> ends = {0, 1, 15, 16, 17, 255, 256, 4095, 4096, n / 2, n};
            for (int k = 0; k < 40; ++k)
                ends.push_back(random() % (n + 1));
            for (std::size_t begin : ends) {
                for (std::size_t end : ends) {
                    if (begin > n || end > n || begin > end)
                        continue;
                    Taken scan;
                    if (end > begin)
                        scan = {points.Base() + begin, points.Base() + end - 1, end - begin,
                                before[end] - before[begin], true};
                    ASSERT_EQ(points.Query(begin, end), scan) << begin << " to " << end;
                }
            }
        }
    }
}

} // namespace
} // namespace korvinet::graph
