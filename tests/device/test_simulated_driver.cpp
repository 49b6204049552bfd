#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace korvinet::device {
namespace {

SimulatedDeviceProfile Rate(double cpm) {
    SimulatedDeviceProfile profile;
    profile.countsPerMinute = cpm;
    return profile;
}
SimulatedDeviceProfile Serial(const char* serial) {
    SimulatedDeviceProfile profile;
    profile.serialNumber = serial;
    return profile;
}

using Op = SimulatedDriver::Op;

class SimulatedDriverTest : public ::testing::Test {
protected:
    platform::ManualClock clock{0, 40000.0};
    SimulatedDriver driver{clock, 7};

    FtHandle OpenFirst() {
        std::uint32_t n = 0;
        driver.CreateDeviceInfoList(&n);
        FtHandle h = 0;
        EXPECT_EQ(driver.Open(0, &h), FT_OK);
        return h;
    }
};

TEST_F(SimulatedDriverTest, PoissonPulsesFollowTheRateOverTime) {
    driver.AddDevice(Rate(6000));
    const FtHandle h = OpenFirst();
    std::uint32_t total = 0, rx = 0;
    for (int i = 0; i < 200; ++i) { // 10 minutes in 3 s steps
        clock.Advance(3000);
        ASSERT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
        total += rx;
        driver.DiscardReceived(h, rx);
    }
    // 60000 expected; 1 % is more than four standard deviations.
    EXPECT_NEAR(total, 60000.0, 600.0);
    EXPECT_EQ(driver.PulsesProduced(0), total);
}

TEST_F(SimulatedDriverTest, SameSeedSameCounts) {
    auto run = [](std::uint64_t seed) {
        platform::ManualClock c;
        SimulatedDriver d(c, seed);
        d.AddDevice(Rate(1200));
        std::uint32_t n = 0;
        FtHandle h = 0;
        d.CreateDeviceInfoList(&n);
        d.Open(0, &h);
        std::vector<std::uint32_t> counts;
        for (int i = 0; i < 20; ++i) {
            c.Advance(3000);
            d.GetQueueStatus(h, &n);
            d.Purge(h, FT_PURGE_RX | FT_PURGE_TX);
            counts.push_back(n);
        }
        return counts;
    };
    EXPECT_EQ(run(3), run(3));
    EXPECT_NE(run(3), run(4));
}

TEST_F(SimulatedDriverTest, ScriptDeliversOneEntryPerQueueStatus) {
    driver.AddDevice({});
    driver.ScriptCounts(0, {5, 0, 9});
    const FtHandle h = OpenFirst();
    std::uint32_t rx = 0;
    for (std::uint32_t expected : {5u, 0u, 9u, 0u}) {
        driver.GetQueueStatus(h, &rx);
        EXPECT_EQ(rx, expected);
        driver.Purge(h, FT_PURGE_RX);
    }
}

TEST_F(SimulatedDriverTest, DiscardKeepsLaterArrivalsPurgeDropsThem) {
    driver.AddDevice({});
    const FtHandle h = OpenFirst();
    driver.InjectPulses(0, 10);
    std::uint32_t rx = 0;
    driver.GetQueueStatus(h, &rx);
    driver.InjectPulses(0, 4);
    driver.DiscardReceived(h, rx);
    EXPECT_EQ(driver.Queued(0), 4u);
    driver.Purge(h, FT_PURGE_RX | FT_PURGE_TX);
    EXPECT_EQ(driver.Queued(0), 0u);
}

TEST_F(SimulatedDriverTest, FaultsStartAtTheNthCallAndStay) {
    driver.AddDevice({});
    const FtHandle h = OpenFirst();
    driver.FailCall(Op::GetQueueStatus, FT_IO_ERROR, 3);
    std::uint32_t rx = 0;
    EXPECT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
    EXPECT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
    EXPECT_EQ(driver.GetQueueStatus(h, &rx), FT_IO_ERROR);
    EXPECT_EQ(driver.GetQueueStatus(h, &rx), FT_IO_ERROR);
    driver.ClearFaults();
    EXPECT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
    EXPECT_EQ(driver.CallCount(Op::GetQueueStatus), 5);
}

TEST_F(SimulatedDriverTest, DevicesOpenOnceAndVanishWhenDetached) {
    driver.AddDevice(Serial("A"));
    driver.AddDevice(Serial("B"));
    FtHandle a = OpenFirst(), again = 0;
    EXPECT_NE(driver.Open(0, &again), FT_OK);

    driver.DetachDevice(0);
    std::uint32_t rx = 0, n = 0;
    EXPECT_NE(driver.GetQueueStatus(a, &rx), FT_OK);
    driver.CreateDeviceInfoList(&n);
    EXPECT_EQ(n, 1u);
    std::vector<FtDeviceListInfoNode> list;
    driver.GetDeviceInfoList(list, &n);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].SerialNumber, "B");
    FtHandle b = 0;
    ASSERT_EQ(driver.Open(0, &b), FT_OK); // index 0 is now device B
    EXPECT_TRUE(driver.IsOpen(1));
}

TEST_F(SimulatedDriverTest, UserAreaReadIsCutToTheBuffer) {
    std::vector<std::uint8_t> area(80);
    for (int i = 0; i < 80; ++i)
        area[i] = static_cast<std::uint8_t>(i);
    SimulatedDeviceProfile profile;
    profile.userArea = area;
    driver.AddDevice(profile);
    const FtHandle h = OpenFirst();
    std::uint8_t buffer[64] = {};
    std::uint32_t read = 0;
    ASSERT_EQ(driver.EE_UARead(h, buffer, 64, &read), FT_OK);
    EXPECT_EQ(read, 64u);
    EXPECT_EQ(buffer[63], 63);
}

// Raised-rate episodes: pulses come on a silent background only while one
// runs, each lasts its length, and the gaps keep their bounds.
TEST_F(SimulatedDriverTest, EpisodesRaiseTheRateForTheirLengthBetweenGaps) {
    const int device = driver.AddDevice(Rate(0));
    driver.SetRateEpisodes(device, {10000, 20000, 5000, 60000}); // 1000 pulses/s inside
    const FtHandle h = OpenFirst();
    std::vector<int> runs, gaps;   // in 100 ms steps
    std::vector<double> runPulses; // pulses per run
    int length = 0;
    double pulses = 0;
    bool before = driver.InEpisode(device);
    std::uint32_t rx = 0;
    for (int step = 0; step < 3000; ++step) { // 300 s
        clock.Advance(100);
        ASSERT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
        driver.DiscardReceived(h, rx);
        const bool after = driver.InEpisode(device);
        if (!before && !after) {
            EXPECT_EQ(rx, 0u) << step;
        }
        pulses += rx;
        ++length;
        if (after != before) {
            (before ? runs : gaps).push_back(length);
            if (before)
                runPulses.push_back(pulses);
            length = 0;
            pulses = 0;
        }
        before = after;
    }
    ASSERT_GE(runs.size(), 8u); // 300 s hold at least 300 / (20 + 5) - 1
    for (int run : runs)
        EXPECT_EQ(run, 50);
    for (std::size_t i = 1; i < gaps.size(); ++i) { // the first counts from opening
        EXPECT_GE(gaps[i], 100);
        EXPECT_LE(gaps[i], 201);
    }
    for (double p : runPulses)
        EXPECT_NEAR(p, 5000.0, 400.0); // about six standard deviations
}

// One look after a long time counts every episode it passed over.
TEST_F(SimulatedDriverTest, EpisodesAddUpOverALongStep) {
    const int device = driver.AddDevice(Rate(600));
    driver.SetRateEpisodes(device, {1000, 1000, 1000, 60000}); // 1 s raised in every 2 s
    const FtHandle h = OpenFirst();
    clock.Advance(600000);
    std::uint32_t rx = 0;
    ASSERT_EQ(driver.GetQueueStatus(h, &rx), FT_OK);
    // 6000 background + 300 s x 1000 raised.
    EXPECT_NEAR(rx, 306000.0, 3000.0);
}

TEST(SimulatedDemo, EpisodesRiseAboveTheDefaultAlarmLevelOnlyWithABackground) {
    EXPECT_EQ(SimulatedDriver::DemoEpisodes(0).lengthMs, 0u);
    const RateEpisodes quiet = SimulatedDriver::DemoEpisodes(30);
    // 1530 cpm at 600 cpm per mR/hr: above the 1.000 mR/hr default level.
    EXPECT_GE((30 + quiet.extraCountsPerMinute) / 600, 2.0);
    EXPECT_GT(quiet.lengthMs, 45000u); // longer than the default averaging time
    EXPECT_LE(quiet.minGapMs, quiet.maxGapMs);
    EXPECT_DOUBLE_EQ(SimulatedDriver::DemoEpisodes(5000).extraCountsPerMinute, 5000);
}

} // namespace
} // namespace korvinet::device
