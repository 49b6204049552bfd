#include "app/driver_choice.h"

#include "device/hardware_drivers.h"
#include "device/simulated_driver.h"

#include <QDateTime>
#include <QtGlobal>
#include <cstdio>

namespace korvinet {

DriverChoice ReadDriverChoice(const EnvironmentLookup& lookup) {
    DriverChoice choice;
    choice.backend = lookup("KORVINET_DRIVER").trimmed().toLower();
    bool ok = false;
    const int devices = lookup("KORVINET_SIM_DEVICES").trimmed().toInt(&ok);
    if (ok && devices >= 0 && devices <= 16)
        choice.simulatedDevices = devices;
    const double cpm = lookup("KORVINET_SIM_CPM").trimmed().toDouble(&ok);
    if (ok && cpm >= 0.0 && cpm <= 1e7)
        choice.simulatedCpm = cpm;
    return choice;
}

DriverChoice ReadDriverChoice() {
    return ReadDriverChoice([](const char* name) { return qEnvironmentVariable(name); });
}

std::unique_ptr<D2xxDriver> CreateDriver(const DriverChoice& choice, const Clock& clock) {
    if (choice.backend == QLatin1String("simulator")) {
        const auto seed = static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
        auto simulator = std::make_unique<SimulatedDriver>(clock, seed);
        for (int i = 0; i < choice.simulatedDevices; ++i) {
            const int device =
                simulator->AddDevice(SimulatedDriver::DemoDevice(i, choice.simulatedCpm));
            // A steady background alone never shows the alarm or a red line.
            simulator->SetRateEpisodes(device, SimulatedDriver::DemoEpisodes(choice.simulatedCpm));
        }
        return simulator;
    }

    QString why;
    std::unique_ptr<D2xxDriver> driver;
    if (choice.backend == QLatin1String("libftdi"))
        driver = CreateLibFtdiDriver(&why);
    else if (choice.backend == QLatin1String("d2xx"))
        driver = CreateD2xxLibraryDriver(&why);
    else
        driver = CreateDefaultHardwareDriver(&why);
    if (driver)
        return driver;

    // No usable USB backend: start all the same, with nothing attached, so
    // saved data files can still be opened; say why on the console.
    std::fprintf(stderr, "korvinet: no counter driver available: %s\n", qPrintable(why));
    return std::make_unique<SimulatedDriver>(clock, 1);
}

} // namespace korvinet
