#pragma once

#include "device/serial_ports.h"

#include <QByteArray>
#include <QByteArrayView>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace korvinet::device {

// One counter's side of a serial protocol, as a simulator plays it: what it
// sends of its own accord and what it answers. Each protocol's simulation is
// one class, written from the protocol's public description.
class SimulatedProtocol {
public:
    virtual ~SimulatedProtocol() = default;
    // How often the counter reports what it counted, in milliseconds.
    virtual int PeriodMs() const = 0;
    // What it says when it is switched on (plugged in).
    virtual QByteArray PowerOn() = 0;
    // What it sends at the end of a period in which it counted pulses.
    virtual QByteArray Counted(std::uint32_t pulses) = 0;
    // Its answer to bytes it was sent (a request); empty for none.
    virtual QByteArray Heard(QByteArrayView bytes) = 0;
    // It counted pulses in a period while unplugged: a counter on a battery
    // of its own goes on counting (and logging) with nobody to hear it.
    virtual void Unheard(std::uint32_t) {}
};

// What a simulated counter that keeps a clock and a memory starts with: a
// clock clockOffsetMs off the computer's, and a log that already holds
// pastS seconds of records at pastCpm (the counter logged them while the
// computer was off), one every logIntervalS, up to the moment it starts.
struct SimulatedMemory {
    std::int64_t clockOffsetMs = 0;
    int logIntervalS = 60;
    int pastS = 0;
    double pastCpm = 30.0;
    QString serial; // the device's own identity, where its protocol tells one
    // The computer's time in milliseconds since 1970 UTC; the system's when
    // not set (tests set a time of their own).
    std::function<std::int64_t()> nowMs;
};

// The open-hardware kit's firmware as published: a line a second at
// 9600 baud, "CPS, n, CPM, m, uSv/hr, x.xx, SLOW", lines ending CR LF. Its
// CPM is the sum of the last 60 seconds (each second capped at 255 counts),
// or the last 5 seconds times 12 (FAST) once that passes 1000, or the
// second's counts times 60 (INST) when a second overflows 255; the dose is
// CPM times 0.0057, cut to two decimals. Switched on it prints a banner.
class TextLineSimulation final : public SimulatedProtocol {
public:
    int PeriodMs() const override { return 1000; }
    QByteArray PowerOn() override;
    QByteArray Counted(std::uint32_t pulses) override;
    QByteArray Heard(QByteArrayView) override { return {}; }

private:
    static constexpr int kLong = 60;
    static constexpr int kShort = 5;
    std::array<std::uint8_t, kLong> seconds_{};
    int next_ = 0;
    std::uint32_t slowSum_ = 0;
    std::uint32_t fastSum_ = 0;
};

// A counter that sends a byte for each pulse as it comes.
class PulseByteSimulation final : public SimulatedProtocol {
public:
    int PeriodMs() const override { return 20; }
    QByteArray PowerOn() override { return {}; }
    QByteArray Counted(std::uint32_t pulses) override;
    QByteArray Heard(QByteArrayView) override { return {}; }
};

// The simulation of a counter: a serial kind's id, or for GQ GMC counters
// the document version's model, "gmc-300" (GQ-RFC1201) or "gmc-500"
// (GQ-RFC1801); null for none.
std::unique_ptr<SimulatedProtocol> MakeSimulation(QStringView kind,
                                                  const SimulatedMemory& memory = {});
// The serial kind a simulation's counters are ("gmc" for "gmc-300"); empty
// for a name of no simulation.
QString SimulatedSerialKind(QStringView simulation);

// A simulated counter on a pseudo-terminal pair: the simulation writes to
// the master side, and the program opens the slave's path as it opens any
// serial port, with the same protocol code it uses for a real counter.
// Unplugging closes both sides, as pulling the cable ends the port: the
// program's reads hang up. Plugging in again makes a new pair (a new path),
// as a new USB enumeration may.
class PtyCounter {
public:
    struct Identity {
        QString serialNumber;
        QString description;
        QString kind; // the serial kind the port is known to be
    };
    // Pulses counted since it was last asked.
    using PulseSource = std::function<std::uint32_t()>;

    PtyCounter(std::unique_ptr<SimulatedProtocol> protocol, Identity identity);
    ~PtyCounter();
    PtyCounter(const PtyCounter&) = delete;
    PtyCounter& operator=(const PtyCounter&) = delete;

    // Plugs the counter in: a new pair, and the protocol's power-on words.
    [[nodiscard]] bool Plug(QString* error = nullptr);
    void Unplug();
    // Runs the counter on a thread of its own from now on: every period it
    // reports what source counted (without a source, only what Count is
    // given), and it answers what it is sent. With
    // unplugAfterMs >= 0 it is unplugged once, that long after starting,
    // and plugged in again unplugForMs later.
    void Run(PulseSource source, int unplugAfterMs = -1, int unplugForMs = 0);

    // Without the thread (tests): one period's report of these pulses, and
    // any bytes at all.
    void Count(std::uint32_t pulses);
    void Send(QByteArrayView bytes);

    // The port as the system would list it; an empty path while unplugged.
    SerialPortEntry Entry() const;

private:
    void Loop(PulseSource source, int unplugAfterMs, int unplugForMs);
    void WriteLocked(QByteArrayView bytes);
    void CloseLocked();

    std::unique_ptr<SimulatedProtocol> protocol_;
    Identity identity_;
    mutable std::mutex mutex_; // the pair and the protocol
    int master_ = -1;
    int slave_ = -1; // kept open, so the master never sees the port closed
    QString path_;
    int stop_ = -1; // an eventfd that ends the thread's wait
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The ports of simulated counters, as the system's would be listed.
class SimulatedSerialPorts final : public SerialPortList {
public:
    PtyCounter& Add(std::unique_ptr<PtyCounter> counter);
    QList<SerialPortEntry> Ports() override;

private:
    std::vector<std::unique_ptr<PtyCounter>> counters_;
};

} // namespace korvinet::device
