#include "support/counter_fixture.h"

#include <numeric>

namespace korvinet::device {
namespace {

using Op = SimulatedDriver::Op;
using testing::CounterTest;

std::string S(const QString& s) {
    return s.toStdString();
}

// ---------------------------------------------------------------- listing

TEST_F(CounterTest, ListsOnlyDescriptionsContainingModelCaseSensitively) {
    const struct {
        const char* description;
        std::int32_t port;
        const char* listedAs; // null: not listed
    } devices[] = {
        {"KVT-PULSE1", 4, "COM4: KVT-PULSE1"},
        {"FT232R USB UART", 5, nullptr},
        {"Lab KVT-PULSE1 rev B", 7, "COM7: KVT-PULSE1"},
        {"kvt-pulse1", 8, nullptr},
        {"KVT-PULSE1", 0, "KVT-PULSE1"}, // no COM port: the description itself
        {"KVT-PULSE1 X", -1, "KVT-PULSE1 X"},
    };
    QStringList names, indices;
    for (int i = 0; i < static_cast<int>(std::size(devices)); ++i) {
        SimulatedDeviceProfile profile;
        profile.description = devices[i].description;
        profile.comPort = devices[i].port;
        driver.AddDevice(profile);
        if (devices[i].listedAs) {
            names << devices[i].listedAs;
            indices << QString::number(i);
        }
    }
    EXPECT_EQ(counter.ListDevices(), names.size());
    EXPECT_EQ(counter.DeviceNames(), names);
    EXPECT_EQ(counter.DeviceIndices(), indices);
    for (int i = 0; i < static_cast<int>(std::size(devices)); ++i)
        EXPECT_FALSE(driver.IsOpen(i)) << "listing leaves device " << i << " open";
}

TEST_F(CounterTest, ListingWithNoDevicesOrFailingDriverIsEmpty) {
    EXPECT_EQ(counter.ListDevices(), 0);
    EXPECT_TRUE(counter.DeviceNames().isEmpty());
    EXPECT_TRUE(counter.DeviceIndices().isEmpty());

    AddCounter();
    ASSERT_EQ(counter.ListDevices(), 1);
    driver.FailCall(Op::GetDeviceInfoList);
    EXPECT_EQ(counter.ListDevices(), 0);
    EXPECT_TRUE(counter.DeviceNames().isEmpty());
}

TEST_F(CounterTest, DeviceThatCannotBeOpenedIsListedByDescriptionAndFailsToConnect) {
    AddCounter();
    driver.FailCall(Op::Open);
    ASSERT_EQ(counter.ListDevices(), 1);
    EXPECT_EQ(counter.DeviceNames().front(), "KVT-PULSE1");
    EXPECT_FALSE(counter.Open(0));
    EXPECT_EQ(S(counter.LastError()), "Failed to open port. Device not open!");
}

// ---------------------------------------------------------------- opening

TEST_F(CounterTest, OpenReadsIdentityAndConfiguration) {
    AddCounter();
    Connect();
    EXPECT_TRUE(counter.IsOpen());
    EXPECT_EQ(S(counter.Info().Model), "KVT-PULSE1");
    EXPECT_EQ(S(counter.Info().SerialNumber), "KV000001");
    EXPECT_EQ(counter.Info().ComPortNumber, 4);
    EXPECT_EQ(S(counter.Info().PortName), "COM4");
    EXPECT_EQ(counter.Range(), 1000);
    EXPECT_DOUBLE_EQ(counter.Sensitivity(), 600.0);
    EXPECT_DOUBLE_EQ(counter.DeadTime(), 90e-6);
    EXPECT_TRUE(counter.HasSpeaker());
    EXPECT_EQ(counter.DetectionFlags(), 0x86);
    EXPECT_EQ(counter.Accuracy(), -5);
    EXPECT_EQ(driver.BaudRate(0), 921600u);
    EXPECT_EQ(driver.LatencyTimer(0), 2);
    EXPECT_EQ(counter.AccumulatedTotal(), 0u);
    EXPECT_DOUBLE_EQ(counter.AccumulationStart(), kStartDay);
    EXPECT_EQ(counter.LastTick(), clock.TickCount());
}

TEST_F(CounterTest, DeviceWithoutComPortIsNamedByItsDescription) {
    const struct {
        std::int32_t port;
        const char* portName;
    } cases[] = {{7, "COM7"}, {0, "KVT-PULSE1"}, {kNoComPort, "KVT-PULSE1"}};
    for (const auto& c : cases) {
        const int device = AddCounter(GoodConfig(), c.port);
        ASSERT_TRUE(counter.Open(static_cast<std::uint32_t>(device))) << S(counter.LastError());
        EXPECT_EQ(counter.Info().ComPortNumber, c.port);
        EXPECT_EQ(S(counter.Info().PortName), c.portName) << c.port;
        ASSERT_TRUE(counter.Close());
    }
}

TEST_F(CounterTest, EveryDriverFailureWhileOpeningHasItsMessageAndClosesTheDevice) {
    const struct {
        Op op;
        const char* message;
    } cases[] = {
        {Op::Open, "Failed to open port. Device not open!"},
        {Op::SetBaudRate, "Failed to change baud rate"},
        {Op::GetDeviceInfo, "Failed to get device information"},
        {Op::EE_UARead, "Failed to read device configuration"},
        {Op::GetComPortNumber, "Failed to get port number"},
        {Op::Purge, "Failed to reset counter. Device not open!"},
    };
    AddCounter();
    for (const auto& c : cases) {
        driver.ClearFaults();
        driver.FailCall(c.op);
        EXPECT_FALSE(counter.Open(0));
        EXPECT_EQ(S(counter.LastError()), c.message);
        EXPECT_FALSE(counter.IsOpen());
        EXPECT_FALSE(driver.IsOpen(0)) << c.message;
    }
}

TEST_F(CounterTest, BadConfigurationBlocksAreRefused) {
    auto good = GoodConfig();
    auto swapped = good;
    std::swap(swapped[11], swapped[12]);
    auto kind2 = good;
    kind2[0] = 2;
    auto longer = good;
    longer.insert(longer.end(), 20, 0xAB); // bytes past the block are ignored
    const struct {
        std::vector<std::uint8_t> area;
        const char* message; // null: opens
    } cases[] = {
        {{}, "No device configuration found!"},
        {{1}, "No device configuration found!"},
        {kind2, "Unknown device, update your software!"},
        {{1, 0}, "Unknown device revision, update your software!"},
        {{1, 3, 0}, "Unknown device revision, update your software!"},
        {{1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Invalid configuration size!"},
        {swapped, "Invalid device configuration found!"},
        {SimulatedDriver::MakeConfig(0, 1000, 90, 0, 0), "Unknown configuration error!"},
        {SimulatedDriver::MakeConfig(1000, 0, 90, 0, 0), "Unknown configuration error!"},
        {SimulatedDriver::MakeConfig(50, 1, 0, 0, 0, 2), nullptr},
        {longer, nullptr},
    };
    AddCounter();
    for (const auto& c : cases) {
        driver.SetUserArea(0, c.area);
        const bool opened = counter.Open(0);
        EXPECT_EQ(opened, c.message == nullptr) << S(counter.LastError());
        if (c.message) {
            EXPECT_EQ(S(counter.LastError()), c.message);
        }
        EXPECT_EQ(driver.IsOpen(0), opened);
        if (opened)
            counter.Close();
    }
}

TEST(ConfigChecksum, IsCrc16Arc) {
    const char* check = "123456789";
    EXPECT_EQ(TCounter::ConfigChecksum(reinterpret_cast<const std::uint8_t*>(check), 9), 0xBB3D);
    EXPECT_EQ(TCounter::ConfigChecksum(nullptr, 0), 0);
    const std::uint8_t one = 0x01;
    EXPECT_EQ(TCounter::ConfigChecksum(&one, 1), 0xC0C1);
}

// ---------------------------------------------------------------- closing

TEST_F(CounterTest, CloseClearsSessionDataButKeepsIdentity) {
    AddCounter();
    Connect();
    counter.SetAveragingWindow(5);
    ASSERT_TRUE(Sample(0, 50));
    EXPECT_TRUE(counter.Close());
    EXPECT_FALSE(driver.IsOpen(0));
    EXPECT_EQ(counter.AveragingWindow(), 0);
    EXPECT_EQ(counter.AccumulatedTotal(), 0u);
    EXPECT_EQ(counter.LatestReadingTime(), 0.0);
    EXPECT_EQ(counter.AccumulationStart(), 0.0);
    EXPECT_EQ(counter.CountRate(), 0.0);
    EXPECT_EQ(counter.CountHistory()[0], 0u);
    EXPECT_EQ(S(counter.Info().PortName), "COM4");
    EXPECT_EQ(counter.Range(), 1000);

    EXPECT_FALSE(counter.ReadCounts());
    EXPECT_EQ(S(counter.LastError()), "Device not open!");
    EXPECT_FALSE(counter.Close());
    EXPECT_EQ(S(counter.LastError()), "Device not open!. Device not open!");
}

TEST_F(CounterTest, FailedDriverCloseIsReported) {
    AddCounter();
    Connect();
    driver.FailCall(Op::Close);
    EXPECT_FALSE(counter.Close());
    EXPECT_EQ(S(counter.LastError()), "Failed to close device");
    EXPECT_FALSE(counter.IsOpen());
}

// ---------------------------------------------------------------- sampling

TEST_F(CounterTest, FirstSampleCoversTimeSinceOpen) {
    AddCounter();
    Connect();
    counter.SetAveragingWindow(20);
    ASSERT_TRUE(Sample(0, 7, 2500));
    EXPECT_DOUBLE_EQ(counter.CountRate(), 7 * 60000.0 / 2500);
    EXPECT_EQ(counter.ElapsedHistory()[0], 2500u);
    EXPECT_DOUBLE_EQ(counter.LatestReadingTime(), kStartDay + 2500 / 86400000.0);
}

TEST_F(CounterTest, RateCoversTheWindowAndEmptyEntriesDoNotDilute) {
    AddCounter();
    Connect();
    counter.SetAveragingWindow(3);
    const struct {
        std::uint32_t counts;
        double rate;
    } samples[] = {
        {12, 240.0},               // alone: 12 counts in 3 s
        {18, 30 * 60000.0 / 6000}, // two samples
        {6, 36 * 60000.0 / 9000},  // three
        {30, 54 * 60000.0 / 9000}, // the first dropped out of the window
    };
    for (const auto& s : samples) {
        ASSERT_TRUE(Sample(0, s.counts));
        EXPECT_DOUBLE_EQ(counter.CountRate(), s.rate) << s.counts;
    }
    ASSERT_TRUE(counter.ResetCounter());
    counter.SetAveragingWindow(20);
    ASSERT_TRUE(Sample(0, 12));
    EXPECT_DOUBLE_EQ(counter.CountRate(), 240.0);
}

TEST_F(CounterTest, WindowOfZeroOrBeyondHistory) {
    AddCounter();
    Connect();
    counter.SetAveragingWindow(0);
    ASSERT_TRUE(Sample(0, 12));
    EXPECT_EQ(counter.CountRate(), 0.0);
    counter.SetAveragingWindow(500); // clamped to the 200 kept samples
    for (int i = 0; i < 250; ++i)
        ASSERT_TRUE(Sample(0, 3));
    EXPECT_DOUBLE_EQ(counter.CountRate(), 60.0);
}

TEST_F(CounterTest, TickCountWrapBetweenSamples) {
    AddCounter();
    clock.SetTickCount(0xFFFFFFFFu - 999); // the reset happens 1000 ms before the wrap
    Connect();
    counter.SetAveragingWindow(1);
    ASSERT_TRUE(Sample(0, 12)); // tick now 2000
    EXPECT_EQ(clock.TickCount(), 2000u);
    EXPECT_EQ(counter.ElapsedHistory()[0], 3000u);
    EXPECT_DOUBLE_EQ(counter.CountRate(), 240.0);
}

TEST_F(CounterTest, OverrangeMarksRateAndKeepsDeviceOpen) {
    // Range 1000 mR/hr at 600 cpm per mR/hr: anything above ~600000 cpm
    // compensated is overrange. Dead time 90 us turns the correction
    // negative at 666,667 cpm and beyond.
    const struct {
        std::uint16_t range;
        std::uint32_t counts; // in 3 s, window 1
        bool overrange;
    } cases[] = {
        {1, 29, false},       // 580 cpm -> 0.97 mR/hr
        {1, 30, true},        // 600 cpm -> 1.0005 mR/hr compensated, above range 1
        {60000, 40000, true}, // 800000 cpm: r * tau / 60 = 1.2, negative correction
        {60000, 33334, true}, // 666680 cpm: just past 1, negative
    };
    for (const auto& c : cases) {
        const int device =
            driver.AddDevice({.userArea = SimulatedDriver::MakeConfig(c.range, 1000, 90, 0, 0)});
        ASSERT_TRUE(counter.Open(static_cast<std::uint32_t>(device))) << S(counter.LastError());
        counter.SetAveragingWindow(1);
        EXPECT_EQ(Sample(device, c.counts), !c.overrange) << c.counts;
        if (c.overrange) {
            EXPECT_EQ(counter.CountRate(), -1.0);
            EXPECT_EQ(S(counter.LastError()), "CAUTION: READING OVERRANGE!  DATA IS INVALID!");
            EXPECT_EQ(S(counter.ReadingText()), "OVERRANGE");
        }
        EXPECT_TRUE(counter.IsOpen());
        EXPECT_EQ(counter.CountHistory()[0], c.counts); // the sample stays recorded
        EXPECT_EQ(counter.AccumulatedTotal(), c.counts);
        counter.Close();
    }
}

TEST_F(CounterTest, FailedQueueStatusClosesWithMessage) {
    AddCounter();
    Connect();
    driver.FailCall(Op::GetQueueStatus);
    EXPECT_FALSE(Sample(0, 5));
    EXPECT_EQ(S(counter.LastError()), "Failed to get counts");
    EXPECT_FALSE(counter.IsOpen());
    EXPECT_FALSE(driver.IsOpen(0));
}

TEST_F(CounterTest, ResetCounterFailureAndNotOpen) {
    EXPECT_FALSE(counter.ResetCounter());
    EXPECT_EQ(S(counter.LastError()), "Device not open!");
    AddCounter();
    Connect();
    driver.FailCall(Op::Purge);
    EXPECT_FALSE(counter.ResetCounter());
    EXPECT_EQ(S(counter.LastError()), "Failed to reset counter");
    EXPECT_FALSE(counter.IsOpen());
}

TEST_F(CounterTest, NoPulseIsLostWhilePulsesArriveBetweenDriverCalls) {
    AddCounter();
    driver.SetCountRate(0, 300000); // 5000 counts per second, as from a busy source
    Connect();
    driver.SetArrivalsPerCall(0, 17); // more land between queue status and discard
    counter.SetAveragingWindow(200);
    std::uint64_t sampled = 0;
    for (int i = 0; i < 100; ++i) {
        clock.Advance(3000);
        ASSERT_TRUE(counter.ReadCounts()) << S(counter.LastError());
        sampled += counter.CountHistory()[0];
    }
    EXPECT_EQ(sampled, counter.AccumulatedTotal());
    EXPECT_EQ(sampled + driver.Queued(0), driver.PulsesProduced(0));
    EXPECT_GT(driver.Queued(0), 0u); // the late arrivals wait for the next sample
}

// A discard that failed leaves the counted bytes at the front of the queue:
// later samples must not count them again, and a driver that keeps failing
// ends the session as a failed count does.
TEST_F(CounterTest, BytesWhoseDiscardFailedAreNotCountedAgain) {
    AddCounter();
    driver.SetCountRate(0, 1200);
    Connect();
    const bool discardFails[] = {false, true, false, true, true, false, true, true, false};
    std::uint64_t sampled = 0;
    for (const bool fails : discardFails) {
        driver.ClearFaults();
        if (fails)
            driver.FailCall(Op::DiscardReceived);
        clock.Advance(3000);
        ASSERT_TRUE(counter.ReadCounts()) << S(counter.LastError());
        sampled += counter.CountHistory()[0];
    }
    EXPECT_EQ(sampled, driver.PulsesProduced(0));
    EXPECT_EQ(counter.AccumulatedTotal(), sampled);

    driver.FailCall(Op::DiscardReceived);
    for (int i = 0; i < 2; ++i) {
        clock.Advance(3000);
        ASSERT_TRUE(counter.ReadCounts()) << S(counter.LastError());
        sampled += counter.CountHistory()[0];
    }
    EXPECT_EQ(sampled, driver.PulsesProduced(0));
    clock.Advance(3000);
    EXPECT_FALSE(counter.ReadCounts()); // the third failure in a row
    EXPECT_EQ(S(counter.LastError()), "Failed to get counts");
    EXPECT_FALSE(counter.IsOpen());
}

// ---------------------------------------------------------------- beep

TEST_F(CounterTest, BeepSwitchesRtsLowForOn) {
    EXPECT_FALSE(counter.SetBeep(true));
    EXPECT_EQ(S(counter.LastError()), "Device not open!");
    AddCounter();
    Connect();
    ASSERT_TRUE(counter.SetBeep(true));
    EXPECT_FALSE(driver.Rts(0));
    ASSERT_TRUE(counter.SetBeep(false));
    EXPECT_TRUE(driver.Rts(0));

    driver.FailCall(Op::ClrRts);
    EXPECT_FALSE(counter.SetBeep(true));
    EXPECT_EQ(S(counter.LastError()), "Failed to set beep");
    EXPECT_FALSE(counter.IsOpen());
}

TEST_F(CounterTest, BeepWithoutSpeakerFailsButStaysOpen) {
    AddCounter(SimulatedDriver::MakeConfig(1000, 1000, 90, 0x06, 10));
    Connect();
    EXPECT_FALSE(counter.SetBeep(true));
    EXPECT_EQ(S(counter.LastError()), "Device does not have a speaker.");
    EXPECT_TRUE(counter.IsOpen());
    EXPECT_EQ(driver.CallCount(Op::ClrRts), 0);
}

// ---------------------------------------------------------------- accumulation

TEST_F(CounterTest, AccumulationRunsFromOpeningAndRestartsAtLatestReading) {
    AddCounter();
    Connect();
    counter.SetAveragingWindow(5);
    for (std::uint32_t n : {10u, 12u, 9u})
        ASSERT_TRUE(Sample(0, n));
    EXPECT_EQ(counter.AccumulatedTotal(), 31u);
    EXPECT_EQ(S(TCounter::ElapsedText(counter.LatestReadingTime() - counter.AccumulationStart())),
              "000d:00h:00m:09s");

    counter.RestartAccumulation();
    EXPECT_EQ(counter.AccumulatedTotal(), 0u);
    EXPECT_EQ(counter.AccumulationStart(), counter.LatestReadingTime());
    ASSERT_TRUE(Sample(0, 4));
    EXPECT_EQ(counter.AccumulatedTotal(), 4u);
    EXPECT_EQ(S(TCounter::ElapsedText(counter.LatestReadingTime() - counter.AccumulationStart())),
              "000d:00h:00m:03s");
    // A restart does not restart the count rate.
    EXPECT_EQ(counter.CountHistory()[1], 9u);
}

TEST_F(CounterTest, AccumulatedTotalWrapsAsUnsigned32) {
    AddCounter(SimulatedDriver::MakeConfig(65535, 65535, 0, 0, 0));
    Connect();
    counter.SetAveragingWindow(1);
    ASSERT_TRUE(Sample(0, 3000000000u, 3000000000u));
    EXPECT_EQ(counter.AccumulatedTotal(), 3000000000u);
    ASSERT_TRUE(Sample(0, 1294967296u + 5, 3000000000u));
    EXPECT_EQ(counter.AccumulatedTotal(), 5u);
}

TEST_F(CounterTest, RestartWhileClosedStartsNow) {
    counter.RestartAccumulation();
    EXPECT_DOUBLE_EQ(counter.AccumulationStart(), kStartDay);
}

} // namespace
} // namespace korvinet::device
