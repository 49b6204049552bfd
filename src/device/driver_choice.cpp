#include "device/driver_choice.h"

#include "device/hardware_drivers.h"
#include "device/serial_kinds.h"
#include "device/serial_simulator.h"
#include "device/simulated_driver.h"

#include "platform/clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QStringList>
#include <QtGlobal>
#include <cmath>
#include <cstdio>

namespace korvinet::device {

namespace {

// The simulator, with its counters pulled out and plugged in again on a
// schedule of the clock's tick count, as seen by the next driver call.
class UnpluggingDriver final : public D2xxDriver {
public:
    UnpluggingDriver(std::unique_ptr<SimulatedDriver> simulator, int devices,
                     const platform::Clock& clock, int afterMs, int forMs)
        : sim_(std::move(simulator)), devices_(devices), clock_(clock), start_(clock.TickCount()),
          afterMs_(static_cast<std::uint32_t>(afterMs)), forMs_(static_cast<std::uint32_t>(forMs)) {
    }

    FtStatus CreateDeviceInfoList(std::uint32_t* numDevices) override {
        Update();
        return sim_->CreateDeviceInfoList(numDevices);
    }
    FtStatus GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                               std::uint32_t* numDevices) override {
        Update();
        return sim_->GetDeviceInfoList(list, numDevices);
    }
    FtStatus Open(int index, FtHandle* handle) override {
        Update();
        return sim_->Open(index, handle);
    }
    FtStatus Close(FtHandle handle) override {
        Update();
        return sim_->Close(handle);
    }
    FtStatus GetComPortNumber(FtHandle handle, std::int32_t* port) override {
        Update();
        return sim_->GetComPortNumber(handle, port);
    }
    FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override {
        Update();
        return sim_->SetBaudRate(handle, baud);
    }
    FtStatus GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                           QString* serialNumber, QString* description) override {
        Update();
        return sim_->GetDeviceInfo(handle, type, id, serialNumber, description);
    }
    FtStatus EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                       std::uint32_t* bytesRead) override {
        Update();
        return sim_->EE_UARead(handle, data, size, bytesRead);
    }
    FtStatus SetLatencyTimer(FtHandle handle, std::uint8_t ms) override {
        Update();
        return sim_->SetLatencyTimer(handle, ms);
    }
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override {
        Update();
        return sim_->Purge(handle, mask);
    }
    FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override {
        Update();
        return sim_->GetQueueStatus(handle, rxBytes);
    }
    FtStatus DiscardReceived(FtHandle handle, std::uint32_t count) override {
        Update();
        return sim_->DiscardReceived(handle, count);
    }
    FtStatus SetRts(FtHandle handle) override {
        Update();
        return sim_->SetRts(handle);
    }
    FtStatus ClrRts(FtHandle handle) override {
        Update();
        return sim_->ClrRts(handle);
    }

private:
    enum class Phase { Before, Unplugged, After };

    void Update() {
        const std::uint32_t elapsed = clock_.TickCount() - start_;
        if (phase_ == Phase::Before && elapsed >= afterMs_) {
            for (int i = 0; i < devices_; ++i)
                sim_->DetachDevice(i);
            phase_ = Phase::Unplugged;
        }
        if (phase_ == Phase::Unplugged && elapsed >= afterMs_ + forMs_) {
            for (int i = 0; i < devices_; ++i)
                sim_->AttachDevice(i);
            phase_ = Phase::After;
        }
    }

    std::unique_ptr<SimulatedDriver> sim_;
    int devices_;
    const platform::Clock& clock_;
    std::uint32_t start_;
    std::uint32_t afterMs_;
    std::uint32_t forMs_;
    Phase phase_ = Phase::Before;
};

// The simulated step comes once the health check has judged the counts
// before it.
constexpr std::uint64_t kStepAfterMs = 10 * 60000;

// The demo's n-th counter, with its episodes or its fault, as the choice
// asks.
void AddDemoDevice(SimulatedDriver& simulator, int n, const DriverChoice& choice) {
    const int device = simulator.AddDevice(SimulatedDriver::DemoDevice(n, choice.simulatedCpm));
    // A steady background alone never shows the alarm or a red line; a fault
    // is shown on its own, so it alone decides what the counts look like.
    if (choice.simulatedFault == SimulatedFault::None)
        simulator.SetRateEpisodes(device, SimulatedDriver::DemoEpisodes(choice.simulatedCpm));
    else
        simulator.SetFault(device, choice.simulatedFault,
                           choice.simulatedFault == SimulatedFault::Step ? kStepAfterMs : 0);
}

// A serial simulated counter's pulses: the FTDI simulator's pulse source,
// one device of it open for good, taken from on the counter's thread alone.
std::function<std::uint32_t()> DemoPulses(const DriverChoice& choice, int n,
                                          const platform::Clock& clock, std::uint64_t seed) {
    auto simulator = std::make_shared<SimulatedDriver>(clock, seed);
    AddDemoDevice(*simulator, n, choice);
    std::uint32_t listed = 0;
    FtHandle handle = 0;
    simulator->CreateDeviceInfoList(&listed);
    (void)simulator->Open(0, &handle);
    return [simulator, handle] {
        std::uint32_t pulses = 0;
        simulator->GetQueueStatus(handle, &pulses);
        simulator->DiscardReceived(handle, pulses);
        return pulses;
    };
}

} // namespace

DriverChoice ReadDriverChoice(const EnvironmentLookup& lookup) {
    DriverChoice choice;
    choice.backend = lookup("KORVINET_DRIVER").trimmed().toLower();
    bool ok = false;
    const QString devicesText = lookup("KORVINET_SIM_DEVICES").trimmed();
    const qlonglong devices = devicesText.toLongLong(&ok);
    if (ok && devices >= 0 && devices <= kMaxSimulatedDevices) {
        choice.simulatedDevices = static_cast<int>(devices);
    } else if (ok && devices > kMaxSimulatedDevices) {
        choice.simulatedDevices = kMaxSimulatedDevices;
        choice.problems << QStringLiteral("KORVINET_SIM_DEVICES=%1 is more than the "
                                          "simulator's %2 counters: simulating %2")
                               .arg(devicesText)
                               .arg(kMaxSimulatedDevices);
    } else if (!devicesText.isEmpty()) {
        choice.problems << QStringLiteral("KORVINET_SIM_DEVICES=%1 is no number of counters "
                                          "(0 to %2): simulating %3")
                               .arg(devicesText)
                               .arg(kMaxSimulatedDevices)
                               .arg(choice.simulatedDevices);
    }
    const double cpm = lookup("KORVINET_SIM_CPM").trimmed().toDouble(&ok);
    if (ok && cpm >= 0.0 && cpm <= 1e7)
        choice.simulatedCpm = cpm;
    const QStringList unplug = lookup("KORVINET_SIM_UNPLUG").trimmed().split(QLatin1Char(':'));
    if (unplug.size() == 2) {
        bool afterOk = false, forOk = false;
        const int after = unplug[0].toInt(&afterOk);
        const int length = unplug[1].toInt(&forOk);
        if (afterOk && forOk && after >= 0 && length >= 0) {
            choice.unplugAfterMs = after;
            choice.unplugForMs = length;
        }
    }
    const QString fault = lookup("KORVINET_SIM_FAULT").trimmed().toLower();
    if (fault == QLatin1String("spikes"))
        choice.simulatedFault = SimulatedFault::Spikes;
    else if (fault == QLatin1String("regular"))
        choice.simulatedFault = SimulatedFault::Regular;
    else if (fault == QLatin1String("drift"))
        choice.simulatedFault = SimulatedFault::Drift;
    else if (fault == QLatin1String("step"))
        choice.simulatedFault = SimulatedFault::Step;
    const QString kind = lookup("KORVINET_SIM_KIND").trimmed().toLower();
    if (!SimulatedSerialKind(kind).isEmpty())
        choice.simulatedKind = kind;
    const double offset = lookup("KORVINET_SIM_CLOCK_OFFSET_S").trimmed().toDouble(&ok);
    if (ok && std::abs(offset) <= 1e9)
        choice.simulatedClockOffsetMs = std::llround(offset * 1000.0);
    const int past = lookup("KORVINET_SIM_MEMORY_S").trimmed().toInt(&ok);
    if (ok && past >= 0 && past <= 366 * 86400)
        choice.simulatedPastS = past;
    const int logEvery = lookup("KORVINET_SIM_LOG_S").trimmed().toInt(&ok);
    if (ok && logEvery >= 1 && logEvery <= 86400)
        choice.simulatedLogS = logEvery;
    return choice;
}

DriverChoice ReadDriverChoice() {
    return ReadDriverChoice([](const char* name) { return qEnvironmentVariable(name); });
}

std::unique_ptr<D2xxDriver> CreateDriver(const DriverChoice& choice, const platform::Clock& clock) {
    // On the console of the program that runs: the window's or the station's.
    const QByteArray program =
        QCoreApplication::instance()
            ? QFileInfo(QCoreApplication::applicationFilePath()).fileName().toLocal8Bit()
            : QByteArray("korvinet");
    if (choice.backend == QLatin1String("simulator")) {
        for (const QString& problem : choice.problems)
            std::fprintf(stderr, "%s: %s\n", program.constData(), qPrintable(problem));
        const auto seed = static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
        auto simulator = std::make_unique<SimulatedDriver>(clock, seed);
        for (int i = 0; i < choice.simulatedDevices; ++i)
            AddDemoDevice(*simulator, i, choice);
        if (choice.unplugAfterMs >= 0)
            return std::make_unique<UnpluggingDriver>(std::move(simulator), choice.simulatedDevices,
                                                      clock, choice.unplugAfterMs,
                                                      choice.unplugForMs);
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
    std::fprintf(stderr, "%s: no counter driver available: %s\n", program.constData(),
                 qPrintable(why));
    return std::make_unique<SimulatedDriver>(clock, 1);
}

CounterDrivers CreateCounterDrivers(const DriverChoice& choice, const platform::Clock& clock) {
    CounterDrivers drivers;
    const bool serial =
        choice.backend == QLatin1String("simulator") && !choice.simulatedKind.isEmpty();
    if (!serial) {
        drivers.ftdi = CreateDriver(choice, clock);
        drivers.ports = std::make_unique<SystemSerialPorts>();
    } else {
        // The serial counters alone, each on a pseudo-terminal of its own.
        drivers.ftdi = std::make_unique<SimulatedDriver>(clock, 1);
        auto ports = std::make_unique<SimulatedSerialPorts>();
        const QString kindId = SimulatedSerialKind(choice.simulatedKind);
        const SerialKind* kind = FindSerialKind(kindId);
        const auto seed = static_cast<std::uint64_t>(QDateTime::currentMSecsSinceEpoch());
        const QString prefix = kindId == kTextLineKind    ? QStringLiteral("KVTL")
                               : kindId == kPulseByteKind ? QStringLiteral("KVTB")
                               : kindId == kRadProKind    ? QStringLiteral("KVRP")
                                                          : QStringLiteral("KVGM");
        for (int i = 0; i < choice.simulatedDevices; ++i) {
            const QString id =
                prefix + QStringLiteral("%1").arg(100001 + i, 6, 10, QLatin1Char('0'));
            SimulatedMemory memory;
            memory.clockOffsetMs = choice.simulatedClockOffsetMs;
            memory.logIntervalS = choice.simulatedLogS;
            memory.pastS = choice.simulatedPastS;
            memory.pastCpm = choice.simulatedCpm;
            memory.serial = id;
            PtyCounter& counter = ports->Add(std::make_unique<PtyCounter>(
                MakeSimulation(choice.simulatedKind, memory),
                PtyCounter::Identity{id, QStringLiteral("Simulated ") + kind->name.toString(),
                                     kindId}));
            QString why;
            if (!counter.Plug(&why)) {
                std::fprintf(stderr, "korvinet: no simulated serial counter: %s\n",
                             qPrintable(why));
                continue;
            }
            counter.Run(DemoPulses(choice, i, clock, seed + static_cast<std::uint64_t>(i)),
                        choice.unplugAfterMs, choice.unplugForMs);
        }
        drivers.ports = std::move(ports);
    }
    drivers.serial = std::make_unique<SerialFinder>(*drivers.ports, clock);
    return drivers;
}

} // namespace korvinet::device
