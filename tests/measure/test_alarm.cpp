#include "measure/alarm.h"

#include <gtest/gtest.h>

namespace korvinet::measure {
namespace {

TEST(AlarmRule, OneWarningPerExcursionAndRedWhileAbove) {
    AlarmRule rule;
    const struct {
        double reading;
        bool alarm, warning;
    } ticks[] = {
        {0.9, false, false}, {1.0, false, false}, // equal to the level is no alarm
        {1.1, true, true},   {1.2, true, false},  {0.8, false, false}, {1.3, true, true},
    };
    for (const auto& t : ticks) {
        const auto out = rule.Evaluate(true, t.reading, 1.0, true);
        EXPECT_EQ(out.alarm, t.alarm) << t.reading;
        EXPECT_EQ(out.showWarning, t.warning) << t.reading;
        EXPECT_EQ(out.beep, t.alarm) << t.reading;
    }
}

TEST(AlarmRule, DisabledOrBuzzerOff) {
    AlarmRule rule;
    auto out = rule.Evaluate(false, 100, 1.0, true);
    EXPECT_FALSE(out.alarm || out.beep || out.showWarning);

    out = rule.Evaluate(true, 2, 1.0, false);
    EXPECT_TRUE(out.alarm && out.showWarning);
    EXPECT_FALSE(out.beep);
    // Disabling re-arms the warning, as a quiet reading does.
    rule.Evaluate(false, 2, 1.0, false);
    EXPECT_TRUE(rule.Evaluate(true, 2, 1.0, false).showWarning);
}

TEST(AlarmRule, OverrangeMarkerNeverAlarms) {
    AlarmRule rule;
    EXPECT_FALSE(rule.Evaluate(true, -1.0, 0.001, true).alarm);
}

} // namespace
} // namespace korvinet::measure
