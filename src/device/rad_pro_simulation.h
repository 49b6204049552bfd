#pragma once

#include "device/serial_simulator.h"

#include <vector>

namespace korvinet::device {

// A counter running Rad Pro as its USB communications protocol describes it
// (docs/comm.md of the firmware) and as its firmware answers: request lines
// ending "\n", every byte below a space skipped; "OK value\r\n" replies and
// "ERROR\r\n" for what it does not know. It counts its tube's lifetime pulses
// in 32 bits and logs the count with the time once a log interval; the data
// log is sent as "OK time,tubePulseCount" and then ";time,count" per record,
// with one more ";" before the record that starts a session, for the records
// from the start time to the end time asked, at most the number asked.
class RadProSimulation final : public SimulatedProtocol {
public:
    // The lifetime count it starts from.
    static constexpr std::uint32_t kFirstCount = 1000000;

    explicit RadProSimulation(SimulatedMemory memory, std::uint32_t firstCount = kFirstCount);

    int PeriodMs() const override { return 1000; }
    QByteArray PowerOn() override { return {}; }
    QByteArray Counted(std::uint32_t pulses) override;
    QByteArray Heard(QByteArrayView bytes) override;
    void Unheard(std::uint32_t pulses) override { Counted(pulses); }

    // Its log starts a new session from now (switched off and on).
    void BreakSession() { sessionStart_ = true; }

private:
    struct Record {
        std::uint32_t time;
        std::uint32_t count;
        bool sessionStart;
    };

    std::int64_t DeviceSeconds() const;
    void Log();
    QByteArray Answer(QByteArrayView request);

    SimulatedMemory memory_;
    std::uint32_t count_;
    std::vector<Record> log_;
    std::int64_t nextLog_ = 0;
    bool sessionStart_ = true;
    QByteArray line_;
};

} // namespace korvinet::device
