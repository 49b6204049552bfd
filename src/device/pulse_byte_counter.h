#pragma once

#include "device/counter_device.h"
#include "device/serial_link.h"
#include "device/serial_ports.h"

namespace korvinet::device {

// A counter that sends one byte for every pulse through any serial bridge
// (CH340, CP210x, PL2303, an FTDI chip without our configuration block):
// the counts are the bytes received, whatever their values. Nothing tells
// such a port from any other, so it is only ever opened when the user named
// its port as one.
class PulseByteCounter final : public CounterDevice {
public:
    static constexpr int kBaud = 9600;

    PulseByteCounter(SerialPortEntry port, int baud);

    OpenResult Open(QString* error) override;
    bool Restart() override;
    bool Sample(CounterSample* sample, QString* why) override;
    bool SetBeep(bool) override { return false; }
    bool Close() override;
    const CounterFacts& Facts() const override { return facts_; }
    std::optional<CounterCalibration> OwnCalibration() const override { return std::nullopt; }
    CounterLinkStatus LinkStatus() const override { return {link_.Received(), 0, 0}; }
    CounterMemory* Memory() override { return nullptr; }

private:
    SerialPortEntry port_;
    int baud_;
    CounterFacts facts_;
    SerialLink link_;
};

} // namespace korvinet::device
