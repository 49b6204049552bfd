#include "graph/chart.h"
#include "graph/graph_settings.h"
#include "platform/regional.h"

#include <gtest/gtest.h>

namespace korvinet::graph {

using platform::Regional;

namespace {

GraphSettingsValues Defaults() {
    return {"Radiation vs. Time", "", true, 1.0, 48.0};
}

TEST(GraphSettings, TotalSpanRoundTrip) {
    struct Case {
        const char* text;
        bool valid;
        double span;      // MaxSpan afterwards
        const char* edit; // EditMaxSpan afterwards
    };
    const Case cases[] = {
        {"48", true, 48, "48.00"},     {"12.3456", true, 12.35, "12.35"},
        {"0.006", true, 0.01, "0.01"}, {"0.004", false, 48, "48.00"},
        {"0", false, 48, "48.00"},     {"-3", false, 48, "48.00"},
        {"abc", false, 48, "48.00"},   {"", false, 48, "48.00"},
        {" 2.5 ", true, 2.5, "2.50"},
    };
    const Regional regional(QLocale::c());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        GraphSettingsEntries in{"Radiation vs. Time", "", true, "", c.text};
        const GraphSettingsOutcome out = ComputeGraphSettings(in, Defaults(), regional);
        EXPECT_DOUBLE_EQ(out.values.MaxSpan, c.span);
        EXPECT_EQ(out.maxSpanEditText, c.edit);
        if (c.valid)
            EXPECT_TRUE(out.messages.isEmpty());
        else
            EXPECT_EQ(out.messages,
                      QStringList{"Total Span is not a valid value! " + QString(c.text)});
    }
}

TEST(GraphSettings, FixedMaximum) {
    struct Case {
        const char* text;
        bool valid;
        double stored;
        const char* edit; // shown again when refused
    };
    const Case cases[] = {
        {"0.5", true, 0.5, nullptr}, {"250", true, 250, nullptr}, {"", false, 2.5, "2.5"},
        {"0", false, 2.5, "2.5"},    {"-2", false, 2.5, "2.5"},   {"x1", false, 2.5, "2.5"},
    };
    const Regional regional(QLocale::c());
    GraphSettingsValues previous = Defaults();
    previous.YMaxValue = 2.5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        GraphSettingsEntries in{"T", "N", false, c.text, "48"};
        const GraphSettingsOutcome out = ComputeGraphSettings(in, previous, regional);
        EXPECT_FALSE(out.values.YMaxAutoEnabled);
        EXPECT_TRUE(out.yMaxEditEnabled);
        EXPECT_DOUBLE_EQ(out.values.YMaxValue, c.stored);
        EXPECT_EQ(out.axisMaximum.has_value(), c.valid);
        if (c.valid) {
            EXPECT_TRUE(out.messages.isEmpty());
            EXPECT_FALSE(out.yMaxEditText.has_value());
        } else {
            EXPECT_EQ(out.messages,
                      QStringList{"Please enter a valid number for YMax or select \"Auto\""});
            EXPECT_EQ(out.yMaxEditText.value_or("?"), c.edit);
        }
    }
}

TEST(GraphSettings, BothChecksRunAndReportInOrder) {
    const Regional regional(QLocale::c());
    GraphSettingsEntries in{"New title", "Notes here", false, "", "abc"};
    const GraphSettingsOutcome out = ComputeGraphSettings(in, Defaults(), regional);
    EXPECT_EQ(out.values.GraphTitle, "New title");
    EXPECT_EQ(out.values.GraphNotes, "Notes here");
    ASSERT_EQ(out.messages.size(), 2);
    EXPECT_TRUE(out.messages[0].startsWith("Please enter"));
    EXPECT_EQ(out.messages[1], "Total Span is not a valid value! abc");
    EXPECT_EQ(out.yMaxEditText.value_or("?"), "1");
}

TEST(GraphSettings, AutomaticMaximumIgnoresTheEntry) {
    const Regional regional(QLocale::c());
    GraphSettingsEntries in{"Radiation vs. Time", "", true, "garbage", "48"};
    const GraphSettingsOutcome out = ComputeGraphSettings(in, Defaults(), regional);
    EXPECT_TRUE(out.messages.isEmpty());
    EXPECT_FALSE(out.yMaxEditEnabled);
    EXPECT_FALSE(out.axisMaximum.has_value());
    EXPECT_EQ(out.maxSpanEditText, "48.00");
}

TEST(GraphSettings, UserDecimalSeparator) {
    const Regional regional(QLocale(QLocale::German, QLocale::Germany));
    GraphSettingsEntries in{"T", "", false, "0,5", "12,3456"};
    const GraphSettingsOutcome out = ComputeGraphSettings(in, Defaults(), regional);
    EXPECT_TRUE(out.messages.isEmpty());
    EXPECT_DOUBLE_EQ(out.values.YMaxValue, 0.5);
    EXPECT_DOUBLE_EQ(out.values.MaxSpan, 12.35);
    EXPECT_EQ(out.maxSpanEditText, "12,35");
}

TEST(GraphSettings, AppliedToTheChart) {
    const Regional regional(QLocale::c());
    TChart chart;
    EXPECT_DOUBLE_EQ(chart.LeftAxisMaximum(), 391);
    EXPECT_FALSE(chart.LeftAxisAutomaticMaximum());

    GraphSettingsValues previous = Defaults();
    GraphSettingsOutcome out =
        ComputeGraphSettings({"My graph", "", false, "0.5", "48"}, previous, regional);
    ApplyGraphSettingsToChart(out, chart);
    EXPECT_EQ(chart.Title(), "My graph");
    EXPECT_DOUBLE_EQ(chart.LeftAxisMaximum(), 0.5);

    // Refused: the chart keeps 0.5 even though the record holds another value.
    previous = out.values;
    previous.YMaxValue = 7;
    out = ComputeGraphSettings({"My graph", "", false, "-2", "48"}, previous, regional);
    ApplyGraphSettingsToChart(out, chart);
    EXPECT_DOUBLE_EQ(chart.LeftAxisMaximum(), 0.5);
    EXPECT_FALSE(chart.LeftAxisAutomaticMaximum());

    out = ComputeGraphSettings({"My graph", "", true, "", "48"}, out.values, regional);
    ApplyGraphSettingsToChart(out, chart);
    EXPECT_TRUE(chart.LeftAxisAutomaticMaximum());
    EXPECT_FALSE(chart.SetLeftAxisMaximum(-1));
}

} // namespace
} // namespace korvinet::graph
