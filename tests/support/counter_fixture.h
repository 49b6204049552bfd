#pragma once

#include "device/counter.h"
#include "device/simulated_driver.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace korvinet::testing {

// A counter wired to a simulated driver and a hand-moved clock. The clock
// starts at 2012-03-14 09:00:00 with the tick count at an arbitrary value.
class CounterTest : public ::testing::Test {
protected:
    static constexpr double kStartDay = 40982.375;

    platform::ManualClock clock{123456, kStartDay};
    device::SimulatedDriver driver{clock, 42};
    device::TCounter counter{driver, clock};

    // Range 1000 mR/hr, sensitivity 600 cpm per mR/hr, dead time 90 us,
    // beta + gamma + speaker, accuracy -5 %.
    static std::vector<std::uint8_t> GoodConfig() {
        return device::SimulatedDriver::MakeConfig(1000, 1000, 90, 0x86, -5);
    }

    int AddCounter(std::vector<std::uint8_t> config = GoodConfig(), std::int32_t port = 4) {
        device::SimulatedDeviceProfile profile;
        profile.userArea = std::move(config);
        profile.comPort = port;
        return driver.AddDevice(profile);
    }

    // Lists, opens the first device and asserts that it worked.
    void Connect() {
        ASSERT_GE(counter.ListDevices(), 1);
        ASSERT_TRUE(counter.Open(counter.DeviceIndices().front().toUInt()))
            << counter.LastError().toStdString();
    }

    // One sample of the given counts after the given milliseconds.
    bool Sample(int device, std::uint32_t counts, std::uint32_t ms = 3000) {
        clock.Advance(ms);
        driver.InjectPulses(device, counts);
        return counter.ReadCounts();
    }
};

} // namespace korvinet::testing
