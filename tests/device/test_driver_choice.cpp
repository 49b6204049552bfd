#include "device/driver_choice.h"

#include "platform/clock.h"

#include <QMap>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

namespace korvinet::device {
namespace {

// The simulator chosen, and one more variable set.
DriverChoice SimulatorWith(const char* variable, const QString& value) {
    return ReadDriverChoice([&](const char* name) {
        return QString::fromLatin1(name) == "KORVINET_DRIVER" ? QStringLiteral("simulator")
               : std::strcmp(name, variable) == 0             ? value
                                                              : QString();
    });
}

TEST(DriverChoice, EnvironmentPicksBackendAndSimulatedCounters) {
    struct Case {
        QMap<QString, QString> env;
        QString backend;
        int devices;
        double cpm;
        std::uint32_t listed; // counters the driver lists
        QString problem{};    // the line said on the console
    };
    const std::vector<Case> cases = {
        {{}, QString(), 1, 30.0, 0},
        {{{"KORVINET_DRIVER", "simulator"}}, "simulator", 1, 30.0, 1},
        {{{"KORVINET_DRIVER", " Simulator "}, {"KORVINET_SIM_DEVICES", "3"}},
         "simulator",
         3,
         30.0,
         3},
        {{{"KORVINET_DRIVER", "simulator"}, {"KORVINET_SIM_DEVICES", "0"}},
         "simulator",
         0,
         30.0,
         0},
        {{{"KORVINET_DRIVER", "simulator"}, {"KORVINET_SIM_CPM", "1200.5"}},
         "simulator",
         1,
         1200.5,
         1},
        // Nonsense falls back to the defaults rather than to huge or negative numbers.
        {{{"KORVINET_DRIVER", "simulator"},
          {"KORVINET_SIM_DEVICES", "-2"},
          {"KORVINET_SIM_CPM", "fast"}},
         "simulator",
         1,
         30.0,
         1,
         "KORVINET_SIM_DEVICES=-2 is no number of counters (0 to 16): simulating 1"},
        {{{"KORVINET_DRIVER", "simulator"}, {"KORVINET_SIM_DEVICES", "100000"}},
         "simulator",
         kMaxSimulatedDevices,
         30.0,
         kMaxSimulatedDevices,
         "KORVINET_SIM_DEVICES=100000 is more than the simulator's 16 counters: simulating 16"},
        // A USB backend never lists simulated counters (no FTDI device here).
        {{{"KORVINET_DRIVER", "libftdi"}, {"KORVINET_SIM_DEVICES", "2"}}, "libftdi", 2, 30.0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.env.value("KORVINET_DRIVER").toStdString());
        const DriverChoice choice = ReadDriverChoice(
            [&](const char* name) { return c.env.value(QString::fromLatin1(name)); });
        EXPECT_EQ(choice.backend, c.backend);
        EXPECT_EQ(choice.simulatedDevices, c.devices);
        EXPECT_DOUBLE_EQ(choice.simulatedCpm, c.cpm);
        EXPECT_EQ(choice.problems.join('\n'), c.problem);

        platform::ManualClock clock;
        const auto driver = CreateDriver(choice, clock);
        ASSERT_NE(driver, nullptr);
        std::uint32_t count = 99;
        ASSERT_EQ(driver->CreateDeviceInfoList(&count), FT_OK);
        EXPECT_EQ(count, c.listed);
    }
}

// The simulated counters that keep a clock and a memory: their kind, and
// the clock's offset and the span of the memory from the environment.
TEST(DriverChoice, SimulatedClockAndMemoryFromTheEnvironment) {
    const QMap<QString, QString> env = {{"KORVINET_DRIVER", "simulator"},
                                        {"KORVINET_SIM_KIND", "GMC-500"},
                                        {"KORVINET_SIM_CLOCK_OFFSET_S", "-18000.5"},
                                        {"KORVINET_SIM_MEMORY_S", "7200"},
                                        {"KORVINET_SIM_LOG_S", "0"}};
    const DriverChoice choice =
        ReadDriverChoice([&](const char* name) { return env.value(QString::fromLatin1(name)); });
    EXPECT_EQ(choice.simulatedKind, QStringLiteral("gmc-500"));
    EXPECT_EQ(choice.simulatedClockOffsetMs, -18000500);
    EXPECT_EQ(choice.simulatedPastS, 7200);
    EXPECT_EQ(choice.simulatedLogS, 60); // none is no interval
    platform::ManualClock clock;
    const CounterDrivers drivers = CreateCounterDrivers(choice, clock);
    const QList<SerialPortEntry> ports = drivers.ports->Ports();
    ASSERT_EQ(ports.size(), 1);
    EXPECT_EQ(ports.front().kind, QStringLiteral("gmc"));
}

// The demo counter is not a flat line: within five minutes of connecting it
// has had a raised-rate episode well above its background.
TEST(DriverChoice, DemoCounterHasRaisedRateEpisodes) {
    platform::ManualClock clock(0, 40000.0);
    const auto driver = CreateDriver(ReadDriverChoice([](const char* name) {
                                         return QString::fromLatin1(name) == "KORVINET_DRIVER"
                                                    ? QStringLiteral("simulator")
                                                    : QString();
                                     }),
                                     clock);
    std::uint32_t n = 0;
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    FtHandle h = 0;
    ASSERT_EQ(driver->Open(0, &h), FT_OK);
    std::uint32_t highest = 0, rx = 0;
    for (int tick = 0; tick < 100; ++tick) { // 5 minutes of 3 s samples
        clock.Advance(3000);
        ASSERT_EQ(driver->GetQueueStatus(h, &rx), FT_OK);
        ASSERT_EQ(driver->DiscardReceived(h, rx), FT_OK);
        highest = std::max(highest, rx);
    }
    // Background: 1.5 counts per sample; an episode: about 78.
    EXPECT_GT(highest, 50u);
}

TEST(DriverChoice, SimulatedFaultFromTheEnvironment) {
    using F = SimulatedFault;
    const std::vector<std::pair<QString, F>> names = {
        {"", F::None},       {"spikes", F::Spikes}, {" Regular ", F::Regular},
        {"drift", F::Drift}, {"step", F::Step},     {"sparks", F::None}};
    for (const auto& [name, fault] : names)
        EXPECT_EQ(SimulatorWith("KORVINET_SIM_FAULT", name).simulatedFault, fault);
}

// The unplugging drill: listed, gone (an open handle fails), listed again;
// a malformed schedule is ignored.
TEST(DriverChoice, SimulatedCounterUnplugsAndReturnsOnSchedule) {
    EXPECT_EQ(SimulatorWith("KORVINET_SIM_UNPLUG", "500").unplugAfterMs, -1);
    EXPECT_EQ(SimulatorWith("KORVINET_SIM_UNPLUG", "x:5").unplugAfterMs, -1);

    platform::ManualClock clock(1000, 40000.0);
    const auto driver = CreateDriver(SimulatorWith("KORVINET_SIM_UNPLUG", " 500:1000 "), clock);
    std::uint32_t n = 0;
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(n, 1u);
    FtHandle h = 0;
    ASSERT_EQ(driver->Open(0, &h), FT_OK);
    std::uint32_t rx = 0;
    clock.Advance(400);
    EXPECT_EQ(driver->GetQueueStatus(h, &rx), FT_OK);
    clock.Advance(200);
    EXPECT_NE(driver->GetQueueStatus(h, &rx), FT_OK);
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(n, 0u);
    clock.Advance(1000);
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(n, 1u);
    ASSERT_EQ(driver->Open(0, &h), FT_OK);
}

} // namespace
} // namespace korvinet::device
