#include "measure/averaging_time.h"

#include <gtest/gtest.h>

namespace korvinet::measure {
namespace {

TEST(AveragingTime, EveryEntryGivesItsWindow) {
    const int windows[] = {5, 10, 15, 20, 60, 100, 200};
    ASSERT_EQ(CountTimeEntries().size(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(AveragingWindowFor(CountTimeEntries()[i]), windows[i]) << i;
}

TEST(AveragingTime, TextThatIsNoEntry) {
    const struct {
        const char* text;
        int window;
    } cases[] = {
        {"x", 0},
        {"", 0},
        {"  \t 6 seconds \r\n", 2},
        {"+9", 3},
        {"-30 seconds", -10},
        {"2 Minutes", 0}, // "min" is case-sensitive
        {"2min", 40},
        {"7", 2},
        {"99999999999999 minutes", 2147483647}, // clamped, never wrapped negative
    };
    for (const auto& c : cases)
        EXPECT_EQ(AveragingWindowFor(c.text), c.window) << c.text;
}

} // namespace
} // namespace korvinet::measure
