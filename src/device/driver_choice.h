#pragma once

#include "device/d2xx.h"
#include "device/serial_finder.h"
#include "device/serial_ports.h"
#include "device/simulated_driver.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// Which device backend the program talks to, read from the environment:
//   KORVINET_DRIVER    "simulator" for simulated counters, "libftdi" or "d2xx"
//                      for a USB backend; unset: the best USB backend there is
//   KORVINET_SIM_DEVICES  how many simulated counters are attached (default 1,
//                         at most kMaxSimulatedDevices)
//   KORVINET_SIM_CPM      their background rate in counts per minute (default 30);
//                         now and then a counter counts faster for a minute
//                         (SimulatedDriver::DemoEpisodes), none at 0
//   KORVINET_SIM_UNPLUG   "<after_ms>:<for_ms>": the simulated counters are
//                         unplugged once, after_ms after the driver starts, and
//                         plugged in again for_ms later (unplugging drills)
//   KORVINET_SIM_FAULT    "spikes", "regular", "drift" or "step": the simulated
//                         counters go wrong that way (SimulatedFault), instead
//                         of having raised-rate episodes; a step comes ten
//                         minutes after connecting, the others at once
//   KORVINET_SIM_KIND     "text-line", "pulse-byte", "rad-pro", "gmc-300" or
//                         "gmc-500": the simulated counters are serial
//                         counters of that kind, each on a pseudo-terminal,
//                         instead of FTDI counters (the default, "ftdi")
//   KORVINET_SIM_CLOCK_OFFSET_S  the clock of simulated counters that keep one
//                         (Rad Pro, GMC) is this many seconds off the computer's
//   KORVINET_SIM_MEMORY_S their memory already holds this many seconds of
//                         records, logged before the program started (the
//                         computer was off); they also log on while unplugged
//   KORVINET_SIM_LOG_S    they log a record every this many seconds (default 60)
struct DriverChoice {
    QString backend;
    int simulatedDevices = 1;
    double simulatedCpm = 30.0;
    int unplugAfterMs = -1; // none
    int unplugForMs = 0;
    SimulatedFault simulatedFault = SimulatedFault::None;
    // What was asked that cannot be done as asked, one line each; CreateDriver
    // says them on the console.
    QStringList problems;
    QString simulatedKind; // a simulation's name (MakeSimulation); empty: FTDI counters
    std::int64_t simulatedClockOffsetMs = 0;
    int simulatedPastS = 0;
    int simulatedLogS = 60;
};

inline constexpr int kMaxSimulatedDevices = 16;

using EnvironmentLookup = std::function<QString(const char* name)>;

DriverChoice ReadDriverChoice(const EnvironmentLookup& lookup);
DriverChoice ReadDriverChoice(); // from the process environment

// The backend the choice names. When no USB backend can start, the program
// runs with no counter attached (a simulator without devices).
std::unique_ptr<D2xxDriver> CreateDriver(const DriverChoice& choice, const platform::Clock& clock);

// Every way to a counter the program has: the FTDI driver, and the serial
// ports with the finder of the counters on them (the simulated counters'
// pseudo-terminals under KORVINET_SIM_KIND, else the system's ports).
struct CounterDrivers {
    std::unique_ptr<D2xxDriver> ftdi;
    std::unique_ptr<SerialPortList> ports;
    std::unique_ptr<SerialFinder> serial;
};
CounterDrivers CreateCounterDrivers(const DriverChoice& choice, const platform::Clock& clock);

} // namespace korvinet::device
