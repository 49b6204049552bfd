#pragma once

#include "device/counter_device.h"
#include "device/d2xx.h"

#include <array>

namespace korvinet::device {

// Our own pulse counter behind an FTDI bridge: one byte per pulse at
// 921600 baud, its range, calibration and fittings in a checksummed block of
// the bridge's EEPROM user area, and a speaker that clicks while RTS is low.
class FtdiCounter final : public CounterDevice {
public:
    static constexpr int kConfigSize = 13;
    static constexpr std::uint32_t kBaudRate = 921600;
    // Samples in a row whose counted bytes could not be discarded, after
    // which the count is given up as failed.
    static constexpr int kMaxFailedDiscards = 3;
    // Part of the driver description that marks one of our counters.
    static inline const QString kModelString = QStringLiteral("KVT-PULSE1");
    static inline const QString kKindName = QStringLiteral("FTDI pulse counter");

    // The device at a place of the driver's list.
    FtdiCounter(D2xxDriver& driver, int index) : driver_(driver), index_(index) {}

    // CRC-16/ARC of the configuration block.
    static std::uint16_t ConfigChecksum(const std::uint8_t* bytes, std::size_t count);

    OpenResult Open(QString* error) override;
    bool Restart() override;
    bool Sample(CounterSample* sample, QString* why) override;
    bool SetBeep(bool on) override;
    bool Close() override;
    const CounterFacts& Facts() const override { return facts_; }
    std::optional<CounterCalibration> OwnCalibration() const override { return calibration_; }
    CounterLinkStatus LinkStatus() const override { return {}; }
    CounterMemory* Memory() override { return nullptr; }

private:
    OpenResult Fail(const char* message, QString* error);

    D2xxDriver& driver_;
    int index_;
    FtHandle handle_ = 0;
    CounterFacts facts_;
    std::optional<CounterCalibration> calibration_;
    std::array<std::uint8_t, kConfigSize> config_{};
    // Counted bytes still in the driver's queue because discarding them failed.
    std::uint32_t undiscarded_ = 0;
    int failedDiscards_ = 0;
};

// Our counters among the devices the FTDI driver lists: those whose
// description names the model. Each is named "COM4: KVT-PULSE1", or by its
// description where it has no COM port.
class FtdiFinder final : public CounterFinder {
public:
    explicit FtdiFinder(D2xxDriver& driver) : driver_(driver) {}

    D2xxDriver& Driver() const { return driver_; }

    std::vector<ListedCounter> List() override;
    std::unique_ptr<CounterDevice> Make(const ListedCounter& counter) override;

private:
    D2xxDriver& driver_;
};

} // namespace korvinet::device
