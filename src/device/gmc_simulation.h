#pragma once

#include "device/gmc_counter.h"
#include "device/serial_simulator.h"

namespace korvinet::device {

// A GQ GMC counter as GQ-RFC1201 (a GMC-300) or GQ-RFC1801 (a GMC-500+)
// describes it: commands "<NAME>>" with binary parameters, replies in raw
// bytes and none to a command it does not know. Once <HEARTBEAT1>> is
// heard it sends each second's count, 2 bytes in RFC1201 (14 bits of count)
// and 4 in RFC1801, until <HEARTBEAT0>>. <GETCFG>> gives its configuration
// with the factory calibration (60 CPM for 0.39 µSv/h); <GETDATETIME>> its
// clock. Its history in flash is not simulated: the counters' documents do
// not describe how it is laid out, so it is never read.
class GmcSimulation final : public SimulatedProtocol {
public:
    GmcSimulation(GmcVersion version, SimulatedMemory memory);

    int PeriodMs() const override { return 1000; }
    QByteArray PowerOn() override { return {}; }
    QByteArray Counted(std::uint32_t pulses) override;
    QByteArray Heard(QByteArrayView bytes) override;
    void Unheard(std::uint32_t pulses) override;

private:
    std::int64_t DeviceMs() const;
    QByteArray Answer(QByteArrayView name);

    GmcVersion version_;
    SimulatedMemory memory_;
    bool heartbeat_ = false;
    QByteArray heard_;
};

} // namespace korvinet::device
