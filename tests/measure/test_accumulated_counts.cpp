#include "measure/accumulated_counts.h"
#include "support/counter_fixture.h"

namespace korvinet::measure {
namespace {

using testing::CounterTest;

TEST_F(CounterTest, AccumulatedCountsLinesFollowTheSamples) {
    AddCounter();
    Connect();
    counter.RestartAccumulation();
    // Before the first sample: no time has passed, none is negative.
    EXPECT_EQ(AccumulatedCountsLines(counter),
              QStringList({"Total Counts: 0", "ET: 000d:00h:00m:00s"}));
    counter.SetAveragingWindow(10);
    for (std::uint32_t n : {10u, 12u, 9u})
        ASSERT_TRUE(Sample(0, n));
    EXPECT_EQ(AccumulatedCountsLines(counter),
              QStringList({"Total Counts: 31", "ET: 000d:00h:00m:09s"}));

    counter.RestartAccumulation();
    ASSERT_TRUE(Sample(0, 5));
    EXPECT_EQ(AccumulatedCountsLines(counter),
              QStringList({"Total Counts: 5", "ET: 000d:00h:00m:03s"}));
}

TEST_F(CounterTest, AccumulatedTotalShowsUnsignedAboveTwoBillion) {
    AddCounter(device::SimulatedDriver::MakeConfig(65535, 65535, 0, 0, 0));
    Connect();
    counter.SetAveragingWindow(1);
    ASSERT_TRUE(Sample(0, 3000000000u, 3000000000u));
    EXPECT_EQ(AccumulatedCountsLines(counter).front(), "Total Counts: 3000000000");
}

} // namespace
} // namespace korvinet::measure
