#pragma once

#include "device/counter_device.h"
#include "device/d2xx.h"
#include "device/display_units.h"
#include "device/ftdi_counter.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The program's only link to a counter device: lists the attached counters of
// every kind it knows (our FTDI counters first, then those the other finder
// lists), opens one, takes one sample per ReadCounts (the counts since the
// previous sample and the milliseconds they cover), keeps the last 200
// samples, turns them into a count rate over the averaging window and that
// into readings in the five display units. The counter itself is a
// CounterDevice of its kind; what is said here holds for every kind.
//
// A counter that carries no calibration of its own reads with the one the
// user chose for it, and without a choice in counts per minute only: the
// units that need a sensitivity give way to CPM (CpmOnly()).
//
// Every operation that can fail returns false and leaves its message in
// LastError(); success never clears the message.
class TCounter {
public:
    static constexpr int kHistorySize = 200;
    static constexpr int kConfigSize = FtdiCounter::kConfigSize;
    static constexpr std::uint32_t kBaudRate = FtdiCounter::kBaudRate;
    static constexpr double kOverrange = -1.0;
    static constexpr int kMaxFailedDiscards = FtdiCounter::kMaxFailedDiscards;
    static inline const QString kModelString = FtdiCounter::kModelString;
    // The unit readings are given in when the counter has no calibration.
    static constexpr std::uint8_t kCpmUnit = 1;

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

    // otherKinds, when given, lists the counters of the other kinds after
    // the FTDI driver's own; it outlives the counter.
    TCounter(D2xxDriver& driver, const platform::Clock& clock, CounterFinder* otherKinds = nullptr);
    ~TCounter();
    TCounter(const TCounter&) = delete;
    TCounter& operator=(const TCounter&) = delete;

    // Session operations.
    int ListDevices();
    // The position of a device in the lists, or -1 when it is not listed;
    // among devices that look alike, the one at hint.
    int FindDevice(const DeviceIdentity& device, int hint = -1) const;
    // The position in the lists of the counter with this serial number, or
    // on this port path; -1 when none is listed.
    int FindNamed(const QString& serialOrPath) const;
    // Opens the FTDI driver's device at this index of its own list.
    bool Open(std::uint32_t deviceIndex);
    // Opens the counter at a position of the lists, of whatever kind.
    bool OpenListed(int position);
    bool Close();
    bool ResetCounter();
    bool ReadCounts();
    bool SetBeep(bool on);
    void RestartAccumulation();
    // The open counter's own memory (counter_device.h): the offset of its
    // clock, none for a counter without a memory.
    std::optional<std::int64_t> MemoryClockOffsetMs() const;
    // Its records of the intervals ending after sinceMs on its clock, as
    // CounterMemory::ReadSince gives them. False when the counter did not
    // answer: it is then closed, and LastError() says why.
    bool ReadMemory(std::int64_t sinceMs, std::vector<MemoryRecord>* records);
    static std::uint16_t ConfigChecksum(const std::uint8_t* bytes, std::size_t count);

    // Readings and units.
    double ConvertRate(double countRate, std::int8_t unitCode) const;
    // Beyond the counter's range, or so fast that the dead-time correction
    // turns negative; a counter that states no range (or has no
    // calibration to give one in mR/hr) is only checked for the latter.
    bool IsOverrange(double countRate) const;
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
    // The unit readings are given in: the one set, or CPM while a counter
    // without calibration is open and the one set needs a sensitivity.
    std::uint8_t UnitCode() const;
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
    // The kind of the counter opened last ("Text-line counter").
    const QString& Kind() const { return kind_; }
    // Where the sensitivity and dead time in use come from; empty without
    // a calibration.
    const QString& CalibrationSource() const { return calibrationSource_; }
    // The calibration in use is the user's choice, not the counter's own.
    bool CalibrationChosen() const { return calibrationChosen_; }
    // Opened without a calibration: readings are in CPM whatever unit was set.
    bool CpmOnly() const { return cpmOnly_; }
    // What the open counter's link has seen; nothing for a closed counter.
    CounterLinkStatus LinkStatus() const;
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
    bool OpenDevice(std::unique_ptr<CounterDevice> device,
                    const std::optional<CounterCalibration>& chosen);
    void ClearHistories();
    void ClearSession();

    struct Listed {
        ListedCounter counter;
        CounterFinder* finder = nullptr;
    };

    FtdiFinder ftdi_;
    CounterFinder* otherKinds_;
    const platform::Clock& clock_;
    std::unique_ptr<CounterDevice> device_;
    std::vector<Listed> listed_;

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
    double latestReadingTime_ = 0.0;
    int latestReadingOffset_ = 0;
    double countRate_ = 0.0;
    std::int32_t averagingWindow_ = 10;
    _Info info_;
    QString kind_;
    QString calibrationSource_;
    bool cpmOnly_ = false;
    bool calibrationChosen_ = false;
    bool hasSpeaker_ = false;
    std::int32_t range_ = 0;
    double sensitivity_ = 0.0;
    double deadTime_ = 0.0;
    std::uint8_t detectionFlags_ = 0;
    std::int8_t accuracy_ = 0;
};

} // namespace korvinet::device
