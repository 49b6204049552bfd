#include "graph/line_series.h"
#include "support/series_points.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace korvinet::graph {
namespace {

constexpr double kHour = 1.0 / 24.0;
constexpr double kTick = 3.0 / 86400.0; // one 3-second sample
constexpr double kDay0 = 40982.375;

std::vector<double> Xs(const TLineSeries& s) {
    std::vector<double> xs;
    for (const GraphPoint& p : testing::PointsOf(s))
        xs.push_back(p.x);
    return xs;
}

TEST(LineSeries, StatisticsOverReadings) {
    struct Case {
        const char* name;
        std::vector<double> ys;
        double min, max, total, mean, last;
    };
    const Case cases[] = {
        {"one two three six", {1, 2, 3, 6}, 1, 6, 12, 3, 6},
        {"single point", {0.25}, 0.25, 0.25, 0.25, 0.25, 0.25},
        {"overrange marker counts as a value", {5, -1, 2}, -1, 5, 6, 2, 2},
        {"all zero", {0, 0, 0}, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLineSeries live("Live Reading", kColorBlue);
        TLineSeries average("Average", kColorGreen);
        for (std::size_t i = 0; i < c.ys.size(); ++i)
            live.Add(kDay0 + i * kTick, c.ys[i]);
        RefreshAverage(live, average);
        EXPECT_DOUBLE_EQ(live.MinY(), c.min);
        EXPECT_DOUBLE_EQ(live.MaxY(), c.max);
        EXPECT_DOUBLE_EQ(live.TotalY(), c.total);
        EXPECT_DOUBLE_EQ(live.LastY(), c.last);
        ASSERT_EQ(average.Count(), 2u);
        EXPECT_DOUBLE_EQ(average.LastY(), c.mean);
        EXPECT_DOUBLE_EQ(average.XValue(0), live.FirstX());
        EXPECT_DOUBLE_EQ(average.XValue(1), live.LastX());
        for (const GraphPoint& p : testing::PointsOf(average))
            EXPECT_EQ(p.color, kDefaultPointColor);
    }
}

TEST(LineSeries, StatisticsFollowEveryKindOfChange) {
    TLineSeries s("Live Reading", kColorBlue);
    s.Add(1, 5);
    s.Add(2, 9);
    EXPECT_DOUBLE_EQ(s.MaxY(), 9);
    s.RemoveFirst();
    EXPECT_DOUBLE_EQ(s.MinY(), 9); // the 5 left with the first point
    s.Add(3, 1);
    EXPECT_DOUBLE_EQ(s.MinY(), 1);
    EXPECT_DOUBLE_EQ(s.TotalY(), 10);
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_DOUBLE_EQ(s.TotalY(), 0);
    s.Add(4, 7);
    EXPECT_DOUBLE_EQ(s.MinY(), 7);
    EXPECT_DOUBLE_EQ(s.MaxY(), 7);
}

TEST(LineSeries, InsertKeepsTimeOrderAndArrivalOrderOfEqualTimes) {
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> added; // x, y in order of arrival
        std::vector<double> ys;                       // y in stored order
    };
    const Case cases[] = {
        {"ascending", {{1, 10}, {2, 20}, {3, 30}}, {10, 20, 30}},
        {"clock set back", {{1, 10}, {3, 30}, {2, 20}}, {10, 20, 30}},
        {"earlier than all", {{5, 50}, {6, 60}, {1, 10}}, {10, 50, 60}},
        {"equal x at the end", {{1, 10}, {2, 20}, {2, 21}}, {10, 20, 21}},
        {"equal x inserted after its twins",
         {{1, 10}, {2, 20}, {3, 30}, {2, 21}, {2, 22}},
         {10, 20, 21, 22, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLineSeries s("Live Reading", kColorBlue);
        for (const auto& [x, y] : c.added)
            s.Add(x, y);
        std::vector<double> ys;
        for (const GraphPoint& p : testing::PointsOf(s))
            ys.push_back(p.y);
        EXPECT_EQ(ys, c.ys);
    }
}

TEST(LineSeries, LatestIsTheLatestTimeNotTheLastAppended) {
    TLineSeries live("Live Reading", kColorBlue);
    live.Add(kDay0, 1);
    live.Add(kDay0 + 2 * kTick, 2, kColorRed);
    live.Add(kDay0 + kTick, 3);
    EXPECT_DOUBLE_EQ(live.LastY(), 2);
    EXPECT_EQ(live.Point(1).y, 3);
    EXPECT_EQ(live.Point(2).color, kColorRed);
}

TEST(LineSeries, ChangeHandlerRunsOnEveryChange) {
    TLineSeries s("Live Reading", kColorBlue);
    int calls = 0;
    s.SetChangeHandler([&] { ++calls; });
    s.Add(1, 1);
    s.Add(0, 1);
    s.RemoveFirst();
    s.Clear();
    EXPECT_EQ(calls, 4);
    s.RemoveFirst(); // nothing to remove, nothing changed
    EXPECT_EQ(calls, 4);
}

TEST(SpanTrimming, KeepsPointsWithinTheSpan) {
    struct Case {
        const char* name;
        double hoursOfData; // points every 3 s over this many hours (plus one)
        double maxSpan;
        double keptHours; // the span left afterwards
    };
    const Case cases[] = {
        {"shorter than the span", 0.5, 1, 0.5},
        {"exactly the span stays", 1, 1, 1},
        {"span lowered from 48 to 1", 10, 1, 1},
        {"fraction of an hour", 2, 0.25, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLineSeries s("Live Reading", kColorBlue);
        const int n = static_cast<int>(std::lround(c.hoursOfData * 1200)) + 1;
        for (int i = 0; i < n; ++i)
            s.Add(kDay0 + i * kTick, i);
        TrimToSpan(s, c.maxSpan);
        EXPECT_NEAR(s.LastX() - s.FirstX(), c.keptHours * kHour, 1e-9);
        EXPECT_DOUBLE_EQ(s.LastY(), n - 1);
        // In one pass: trimming again removes nothing.
        EXPECT_EQ(TrimToSpan(s, c.maxSpan), 0u);
    }
}

TEST(SpanTrimming, SpanUnchangedUntilTheNextTickAfterLowering) {
    TLineSeries s("Live Reading", kColorBlue);
    for (int i = 0; i < 12000; ++i) // 10 hours
        s.Add(kDay0 + i * kTick, 1);
    TrimToSpan(s, 48);
    EXPECT_EQ(s.Count(), 12000u);
    s.Add(kDay0 + 12000 * kTick, 1); // the next tick, span now 1 hour
    TrimToSpan(s, 1);
    EXPECT_EQ(s.Count(), 1201u);
    EXPECT_LE(s.LastX() - s.FirstX(), kHour + 1e-12);
}

// A span of 0 or below (whole hours stored, a damaged store) must not empty
// the live series: the newest reading always stays.
TEST(SpanTrimming, NeverRemovesTheNewestPoint) {
    const double spans[] = {0.0, -5.0, std::nan("")};
    for (double span : spans) {
        SCOPED_TRACE(span);
        TLineSeries s("Live Reading", kColorBlue);
        s.Add(kDay0, 1);
        EXPECT_EQ(TrimToSpan(s, span), 0u);
        s.Add(kDay0 + kTick, 2);
        s.Add(kDay0 + kTick, 3); // same instant
        EXPECT_EQ(TrimToSpan(s, span), span == 0.0 ? 1u : 2u);
        ASSERT_FALSE(s.IsEmpty());
        EXPECT_DOUBLE_EQ(s.LastY(), 3);
    }
}

TEST(SpanTrimming, AverageFollowsTheTrimmedSeries) {
    TLineSeries live("Live Reading", kColorBlue);
    TLineSeries average("Average", kColorGreen);
    const double ys[] = {100, 1, 2, 3, 6};
    for (int i = 0; i < 5; ++i)
        live.Add(kDay0 + i * kHour, ys[i]);
    TrimToSpan(live, 3);
    RefreshAverage(live, average);
    EXPECT_EQ(Xs(live).size(), 4u);
    EXPECT_DOUBLE_EQ(average.LastY(), 3);
    live.Clear();
    RefreshAverage(live, average);
    EXPECT_TRUE(average.IsEmpty());
}

} // namespace
} // namespace korvinet::graph

namespace korvinet::graph {
namespace {

TEST(LiveTick, AppendTrimAndMeanInOrder) {
    TLineSeries live("Live Reading", kColorBlue);
    TLineSeries average("Average", kColorGreen);
    for (int i = 0; i < 5; ++i)
        AppendLiveReading(live, average, {kDay0 + i * kHour, double(i), kDefaultPointColor}, 2.0);
    // Kept: the readings 2, 3, 4 of the last two hours.
    EXPECT_EQ(live.Count(), 3u);
    EXPECT_DOUBLE_EQ(average.LastY(), 3);
    EXPECT_DOUBLE_EQ(average.XValue(0), kDay0 + 2 * kHour);
}

} // namespace
} // namespace korvinet::graph

namespace korvinet::graph {
namespace {

// Labels are the time of day of x, as the one date-time split rounds it.
TEST(TimeLabelFormat, LabelsAreTheTimeOfDayOfX) {
    const TimeLabelFormat format{QLocale::c(), QStringLiteral("h:mm:ss AP")};
    EXPECT_EQ(format.Text(kDay0 + 2 * kTick), "9:00:06 AM");
    EXPECT_EQ(format.Text(kDay0 + 86399.9996 / 86400 - 0.375), "12:00:00 AM"); // rounds to midnight
}

TEST(LineSeries, StatisticsFollowALongLiveSeriesExactly) {
    // A week of readings trimmed to a day, with late points and a NaN: the
    // maintained minimum and maximum are exactly what a pass finds.
    std::mt19937 random(3);
    std::uniform_real_distribution<double> value(0, 1);
    TLineSeries live("Live Reading", kColorBlue);
    TLineSeries average("Average", kColorGreen);
    for (int i = 0; i < 7 * 28800; ++i) {
        double x = kDay0 + i * kTick;
        if (i % 5000 == 4999)
            x -= 100 * kTick; // clock set back
        const double y = i == 1000 ? std::numeric_limits<double>::quiet_NaN() : value(random);
        AppendLiveReading(live, average, GraphPoint{x, y, kDefaultPointColor}, 24);
        if (i % 9973 != 0)
            continue;
        double min = live.YValue(0), max = min, total = 0;
        for (std::size_t k = 0; k < live.Count(); ++k) {
            min = std::min(min, live.YValue(k));
            max = std::max(max, live.YValue(k));
            total += live.YValue(k);
        }
        SCOPED_TRACE(i);
        EXPECT_EQ(live.MinY(), min);
        EXPECT_EQ(live.MaxY(), max);
        if (std::isnan(total))
            EXPECT_TRUE(std::isnan(live.TotalY()));
        else
            EXPECT_NEAR(live.TotalY(), total, 1e-9);
    }
    EXPECT_LE(live.LastX() - live.FirstX(), 1.0 + 1e-6);
}

} // namespace
} // namespace korvinet::graph
