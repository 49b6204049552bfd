#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace korvinet {
namespace {

SimulatedDeviceSpec Rate(double cpm) {
    SimulatedDeviceSpec spec;
    spec.countsPerMinute = cpm;
    return spec;
}
SimulatedDeviceSpec Serial(const char* serial) {
    SimulatedDeviceSpec spec;
    spec.serialNumber = serial;
    return spec;
}

using Op = SimulatedDriver::Op;

class SimulatedDriverTest : public ::testing::Test {
protected:
    ManualClock clock{0, 40000.0};
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
        ManualClock c;
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
    SimulatedDeviceSpec spec;
    spec.userArea = area;
    driver.AddDevice(spec);
    const FtHandle h = OpenFirst();
    std::uint8_t buffer[64] = {};
    std::uint32_t read = 0;
    ASSERT_EQ(driver.EE_UARead(h, buffer, 64, &read), FT_OK);
    EXPECT_EQ(read, 64u);
    EXPECT_EQ(buffer[63], 63);
}

} // namespace
} // namespace korvinet
