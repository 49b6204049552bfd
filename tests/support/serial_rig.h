#pragma once

#include "device/serial_finder.h"
#include "device/serial_kinds.h"
#include "device/serial_simulator.h"

namespace korvinet::testing {

// A serial counter of one kind (a simulation's name) on a pseudo-terminal,
// the simulation of its protocol writing what the test says it counted and
// answering what it is asked, and the finder that lists its port (which
// says its kind itself).
struct SerialRig {
    static constexpr const char* kSerial = "KVTT000001";

    SerialRig(QStringView kind, const platform::Clock& clock,
              const device::SimulatedMemory& memory = {})
        : SerialRig(device::MakeSimulation(kind, memory), device::SimulatedSerialKind(kind),
                    clock) {}
    SerialRig(std::unique_ptr<device::SimulatedProtocol> protocol, const QString& kind,
              const platform::Clock& clock)
        : counter(ports.Add(std::make_unique<device::PtyCounter>(
              std::move(protocol),
              device::PtyCounter::Identity{QString::fromLatin1(kSerial),
                                           QStringLiteral("Test counter"), kind}))),
          finder(ports, clock) {
        plugged = counter.Plug();
        // A kind that answers questions answers on its own thread; the test
        // says what it counts.
        if (const device::SerialKind* k = device::FindSerialKind(kind); k && k->recognise)
            counter.Run(nullptr);
    }

    // Gives the counter a calibration of counts per minute for 1 µSv/hr.
    void Calibrate(double cpmPerMicrosievertHour, double deadTimeSeconds) {
        device::CounterChoice choice;
        choice.counter = QString::fromLatin1(kSerial);
        choice.cpmPerMicrosievertHour = cpmPerMicrosievertHour;
        choice.deadTimeSeconds = deadTimeSeconds;
        finder.SetChoices({choice});
    }

    device::SimulatedSerialPorts ports;
    device::PtyCounter& counter;
    device::SerialFinder finder;
    bool plugged = false;
};

} // namespace korvinet::testing
