#pragma once

#include "device/d2xx.h"
#include "device/display_units.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace korvinet {

class Clock;

// The program's only link to a counter device: lists attached counters, opens
// one and checks its configuration block, takes one sample per ReadCounts
// (the bytes received since the previous sample and the milliseconds that
// passed), keeps the last 200 samples, turns them into a count rate over the
// averaging window and that into readings in the five display units.
//
// Every operation that can fail returns false and leaves its message in
// LastError(); success never clears the message.
class TCounter {
public:
    static constexpr int kHistorySize = 200;
    static constexpr int kConfigSize = 13;
    static constexpr std::uint32_t kBaudRate = 921600;
    static constexpr double kOverrange = -1.0;
    // Samples in a row whose counted bytes could not be discarded, after
    // which the count is given up as failed.
    static constexpr int kMaxFailedDiscards = 3;
    // Part of the driver description that marks one of our counters.
    static inline const QString kModelString = QStringLiteral("KVT-PULSE1");

    struct _Info {
        QString SerialNumber;
        QString Model;
        std::int32_t ComPortNumber = 0;
        QString PortName = QStringLiteral("COM?");
    };

    // What tells one listed device from another while the driver's list
    // positions come and go with plugging.
    struct DeviceIdentity {
        QString SerialNumber;
        QString Description;
        bool operator==(const DeviceIdentity&) const = default;
    };

    TCounter(D2xxDriver& driver, const Clock& clock);
    TCounter(const TCounter&) = delete;
    TCounter& operator=(const TCounter&) = delete;

    // Session operations.
    int ListDevices();
    // The position of a device in the lists, or -1 when it is not listed;
    // among devices that look alike, the one at hint.
    int FindDevice(const DeviceIdentity& device, int hint = -1) const;
    bool Open(std::uint32_t deviceIndex);
    bool Close();
    bool ResetCounter();
    bool ReadCounts();
    bool SetBeep(bool on);
    void RestartAccumulation();
    static std::uint16_t ConfigChecksum(const std::uint8_t* bytes, std::size_t count);

    // Readings and units.
    double ConvertRate(double countRate, std::int8_t unitCode) const;
    double Reading() const;
    QString FormatValue(double value) const;
    // The same text for a value in the given units, without a counter.
    static QString FormatValueOf(double value, std::int8_t unitCode);
    QString ReadingText() const;
    QString UnitName() const;
    static QString UnitNameOf(std::int8_t unitCode);
    static QString ElapsedText(double days);

    // Readers.
    bool IsOpen() const { return open_; }
    const QString& LastError() const { return lastError_; }
    // Why the last failing operation failed: LastError(), unless closing the
    // counter failed after the failing step (an unplugged counter cannot be
    // closed either). LastError() then says so, as the window shows it, and
    // this still names the step.
    QString FailureCause() const;
    std::uint8_t UnitCode() const { return unitCode_; }
    const QStringList& DeviceNames() const { return deviceNames_; }
    const QStringList& DeviceIndices() const { return deviceIndices_; }
    const QList<DeviceIdentity>& DeviceIdentities() const { return deviceIdentities_; }
    const _Info& Info() const { return info_; }
    std::int32_t Range() const { return range_; }
    double Sensitivity() const { return sensitivity_; }
    double DeadTime() const { return deadTime_; }
    bool HasSpeaker() const { return hasSpeaker_; }
    std::uint8_t DetectionFlags() const { return detectionFlags_; }
    std::int8_t Accuracy() const { return accuracy_; }
    std::uint32_t AccumulatedTotal() const { return accumulatedTotal_; }
    double AccumulationStart() const { return accumulationStart_; }
    double LatestReadingTime() const { return latestReadingTime_; }
    // The offset from UTC in force at the latest reading.
    int LatestReadingUtcOffset() const { return latestReadingOffset_; }
    // Whether a sample has been taken since the counter was opened; until
    // then LatestReadingTime() is no time at all.
    bool HasReading() const { return latestReadingTime_ > 0; }
    double CountRate() const { return countRate_; }
    std::int32_t AveragingWindow() const { return averagingWindow_; }
    std::uint32_t LastTick() const { return lastTick_; }
    const std::array<std::uint32_t, kHistorySize>& CountHistory() const { return counts_; }
    const std::array<std::uint32_t, kHistorySize>& ElapsedHistory() const { return elapsed_; }

    // Writers.
    void SetUnitCode(std::uint8_t code) { unitCode_ = code; }
    void SetAveragingWindow(std::int32_t samples) { averagingWindow_ = samples; }

private:
    bool FailOpen(const char* message);
    void ClearHistories();

    D2xxDriver& driver_;
    const Clock& clock_;

    bool open_ = false;
    QString lastError_;
    QString causeBeforeClose_; // LastError() when closing failed
    std::uint8_t unitCode_ = kMilliRoentgenPerHour;
    QStringList deviceNames_;
    QStringList deviceIndices_;
    QList<DeviceIdentity> deviceIdentities_;
    std::array<std::uint32_t, kHistorySize> counts_{};
    std::array<std::uint32_t, kHistorySize> elapsed_{};
    std::uint32_t accumulatedTotal_ = 0;
    double accumulationStart_ = 0.0;
    std::uint32_t lastTick_ = 0;
    // Counted bytes still in the driver's queue because discarding them failed.
    std::uint32_t undiscarded_ = 0;
    int failedDiscards_ = 0;
    double latestReadingTime_ = 0.0;
    int latestReadingOffset_ = 0;
    double countRate_ = 0.0;
    std::int32_t averagingWindow_ = 10;
    _Info info_;
    std::array<std::uint8_t, kConfigSize> config_{};
    bool hasSpeaker_ = false;
    std::int32_t range_ = 0;
    double sensitivity_ = 0.0;
    double deadTime_ = 0.0;
    std::uint8_t detectionFlags_ = 0;
    std::int8_t accuracy_ = 0;
    FtHandle handle_ = 0;
};

} // namespace korvinet
