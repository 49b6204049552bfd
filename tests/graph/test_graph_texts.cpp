#include "graph/graph_texts.h"
#include "graph/line_series.h"
#include "platform/regional.h"
#include "support/counter_fixture.h"

#include <QPainter>
#include <stdexcept>

namespace korvinet::graph {
namespace {

constexpr double kSecond = 1.0 / 86400.0;

class GraphTextsTest : public testing::CounterTest {
protected:
    platform::Regional regional{QLocale::c()};
    TLineSeries live{"Live Reading", kColorBlue};
    TLineSeries average{"Average", kColorGreen};

    void Fill(std::initializer_list<double> ys, double start = kStartDay) {
        double x = start;
        for (double y : ys) {
            live.Add(x, y);
            x += 3 * kSecond;
        }
        RefreshAverage(live, average);
    }

    OverlayContext Context(QString notes = {}, QString averaging = "45 seconds") {
        return {live, average, counter, regional, std::move(notes), std::move(averaging)};
    }
};

TEST(DataFileName, TakesTheLastPathPartWithoutBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\data\\run1.csv", "run1.csv"},
        {"/home/user/data/run1.csv", "run1.csv"},
        {"run1.csv", "run1.csv"},
        {"C:\\data\\  run 1.csv \t\r\n", "run 1.csv"},
        {"C:\\data\\", ""},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(DataFileDisplayName(QString::fromUtf8(path)), QString::fromUtf8(name)) << path;
}

TEST_F(GraphTextsTest, StatisticsOfADataFileWithTheDeviceClosed) {
    Fill({1, 2, 3, 6});
    const QStringList header = {"Title: Radiation vs. Time", "Notes: basement"};
    const QStringList lines =
        StatisticsLines(live, average, counter, regional, "C:\\data\\run1.csv", header);
    const QStringList expected = {
        "Filename: run1.csv",     "Title: Radiation vs. Time", "Notes: basement",
        "Latest:    6.000 mR/hr", "Average:   3.000 mR/hr",    "Min:       1.000 mR/hr",
        "Max:       6.000 mR/hr", "ET: 000d:00h:00m:09s",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(GraphTextsTest, StatisticsWhileConnectedStartWithTheReadingTime) {
    const int device = AddCounter();
    Connect();
    ASSERT_TRUE(Sample(device, 30));
    counter.SetUnitCode(1);
    Fill({12.5}, counter.LatestReadingTime());
    const QStringList lines = StatisticsLines(live, average, counter, regional, {}, {});
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "3/14/2012 9:00:03 AM");
    EXPECT_EQ(lines[1], "Latest:    12.5 CPM");
    EXPECT_EQ(lines[2], "Average:   12.5 CPM");
    EXPECT_EQ(lines[5], "ET: 000d:00h:00m:00s");
}

TEST_F(GraphTextsTest, NothingForAnEmptyGraph) {
    EXPECT_TRUE(StatisticsLines(live, average, counter, regional, "x.csv", {"h"}).isEmpty());
    EXPECT_FALSE(HasOverlays(live, average));
    live.Add(kStartDay, 1); // average not yet refreshed
    EXPECT_FALSE(HasOverlays(live, average));
}

TEST(StatisticsClipboard, LinesSeparatedByCrLf) {
    EXPECT_EQ(StatisticsClipboardText(QStringList{"a", "b c"}), "a\r\nb c");
    EXPECT_EQ(StatisticsClipboardText(QString("a\nb\r\nc")), "a\r\nb\r\nc");
}

TEST_F(GraphTextsTest, SummaryLineAndDateSpan) {
    struct Case {
        const char* name;
        bool connect;
        QString averaging;
        const char* summary;
    };
    const Case cases[] = {
        {"device closed", false, "45 seconds",
         "Latest: 6.000   Average: 3.000   Max: 6.000   ET: 000d:00h:00m:09s"},
        {"device open", true, "45 seconds",
         "Latest: 6.000   Average: 3.000   Max: 6.000   ET: 000d:00h:00m:09s"
         "   Averaging Time: 45 seconds"},
        {"device open, no entry selected", true, "",
         "Latest: 6.000   Average: 3.000   Max: 6.000   ET: 000d:00h:00m:09s"
         "   Averaging Time: "},
    };
    AddCounter();
    Fill({1, 2, 3, 6});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.connect && !counter.IsOpen())
            Connect();
        EXPECT_EQ(SummaryLine(Context({}, c.averaging)), c.summary);
    }
    EXPECT_EQ(DateSpanText(live, regional), "Date Span: 3/14/2012 to 3/14/2012");
    live.Add(kStartDay + 0.7, 1); // past midnight
    EXPECT_EQ(DateSpanText(live, regional), "Date Span: 3/14/2012 to 3/15/2012");
}

TEST_F(GraphTextsTest, OverrangeShowsAsText) {
    Fill({-1});
    EXPECT_TRUE(SummaryLine(Context()).startsWith("Latest: OVERRANGE   Average: OVERRANGE"));
}

} // namespace
} // namespace korvinet::graph
