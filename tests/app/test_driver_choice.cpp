#include "app/driver_choice.h"

#include "platform/clock.h"

#include <QMap>
#include <gtest/gtest.h>

namespace korvinet {
namespace {

TEST(DriverChoice, EnvironmentPicksBackendAndSimulatedCounters) {
    struct Case {
        QMap<QString, QString> env;
        QString backend;
        int devices;
        double cpm;
        std::uint32_t listed; // counters the driver lists
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
         1},
        {{{"KORVINET_DRIVER", "simulator"}, {"KORVINET_SIM_DEVICES", "100000"}},
         "simulator",
         1,
         30.0,
         1},
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

        ManualClock clock;
        const auto driver = CreateDriver(choice, clock);
        ASSERT_NE(driver, nullptr);
        std::uint32_t count = 99;
        ASSERT_EQ(driver->CreateDeviceInfoList(&count), FT_OK);
        EXPECT_EQ(count, c.listed);
    }
}

} // namespace
} // namespace korvinet
