#pragma once

#include "device/serial_finder.h"
#include "device/serial_simulator.h"

#include <chrono>
#include <functional>
#include <thread>

namespace korvinet::testing {

// A serial counter of one kind on a pseudo-terminal, the simulation of its
// protocol writing what the test says it counted, and the finder that lists
// its port (which says its kind itself).
struct SerialRig {
    static constexpr const char* kSerial = "KVTT000001";

    SerialRig(QStringView kind, const Clock& clock)
        : counter(ports.Add(std::make_unique<PtyCounter>(
              MakeSimulation(kind),
              PtyCounter::Identity{QString::fromLatin1(kSerial), QStringLiteral("Test counter"),
                                   kind.toString()}))),
          finder(ports, clock) {
        plugged = counter.Plug();
    }

    // Gives the counter a calibration of counts per minute for 1 µSv/hr.
    void Calibrate(double cpmPerMicrosievertHour, double deadTimeSeconds) {
        CounterChoice choice;
        choice.counter = QString::fromLatin1(kSerial);
        choice.cpmPerMicrosievertHour = cpmPerMicrosievertHour;
        choice.deadTimeSeconds = deadTimeSeconds;
        finder.SetChoices({choice});
    }

    SimulatedSerialPorts ports;
    PtyCounter& counter;
    SerialFinder finder;
    bool plugged = false;
};

// Waits (without an event loop: the link reads on a thread of its own)
// until the condition holds or the time is up.
inline bool Eventually(const std::function<bool()>& condition, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace korvinet::testing
