#include "device/counter.h"

#include "platform/clock.h"

#include <QByteArray>
#include <vector>

namespace korvinet {

namespace {

constexpr std::uint32_t kUserAreaSize = 64;
constexpr std::uint8_t kLatencyMs = 2;
const QString kCloseFailed = QStringLiteral("Failed to close device");

std::uint16_t Word(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// CRC-16/ARC: reflected polynomial 0x8005 (0xA001), initial value 0, no final XOR.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

} // namespace

TCounter::TCounter(D2xxDriver& driver, const Clock& clock) : driver_(driver), clock_(clock) {}

std::uint16_t TCounter::ConfigChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

int TCounter::ListDevices() {
    deviceNames_.clear();
    deviceIndices_.clear();
    deviceIdentities_.clear();

    std::uint32_t n = 0;
    driver_.CreateDeviceInfoList(&n); // a failure leaves n at 0
    if (n > 0) {
        std::vector<FtDeviceListInfoNode> nodes;
        if (driver_.GetDeviceInfoList(nodes, &n) == FT_OK) {
            for (std::uint32_t i = 0; i < n && i < nodes.size(); ++i) {
                const QString& description = nodes[i].Description;
                if (!description.contains(kModelString, Qt::CaseSensitive))
                    continue;
                std::int32_t port = 0;
                FtHandle probe = 0;
                if (driver_.Open(static_cast<int>(i), &probe) == FT_OK) {
                    driver_.GetComPortNumber(probe, &port);
                    driver_.Close(probe);
                }
                deviceNames_.append(port > 0
                                        ? QStringLiteral("COM%1: %2").arg(port).arg(kModelString)
                                        : description);
                deviceIndices_.append(QString::number(i));
                deviceIdentities_.append({nodes[i].SerialNumber, description});
            }
        }
    }
    return static_cast<int>(deviceNames_.size());
}

int TCounter::FindDevice(const DeviceIdentity& device, int hint) const {
    if (hint >= 0 && hint < deviceIdentities_.size() && deviceIdentities_.at(hint) == device)
        return hint;
    return static_cast<int>(deviceIdentities_.indexOf(device));
}

bool TCounter::FailOpen(const char* message) {
    lastError_ = QString::fromLatin1(message);
    Close(); // appends ". Device not open!" when the failing step already closed it
    return false;
}

bool TCounter::Open(std::uint32_t deviceIndex) {
    FtHandle handle = 0;
    if (driver_.Open(static_cast<int>(deviceIndex), &handle) != FT_OK)
        return FailOpen("Failed to open port");
    handle_ = handle;
    open_ = true;

    if (driver_.SetBaudRate(handle_, kBaudRate) != FT_OK)
        return FailOpen("Failed to change baud rate");

    std::uint32_t type = 0, id = 0;
    QString serial, description;
    if (driver_.GetDeviceInfo(handle_, &type, &id, &serial, &description) != FT_OK)
        return FailOpen("Failed to get device information");
    info_.SerialNumber = serial;
    info_.Model = description;

    std::uint8_t area[kUserAreaSize] = {};
    std::uint32_t read = 0;
    if (driver_.EE_UARead(handle_, area, kUserAreaSize, &read) != FT_OK)
        return FailOpen("Failed to read device configuration");
    if (read < 2)
        return FailOpen("No device configuration found!");
    if (area[0] != 1)
        return FailOpen("Unknown device, update your software!");
    if (area[1] != 1 && area[1] != 2)
        return FailOpen("Unknown device revision, update your software!");
    if (read < kConfigSize)
        return FailOpen("Invalid configuration size!");
    std::copy(area, area + kConfigSize, config_.begin());
    if (ConfigChecksum(config_.data(), 11) != Word(&config_[11]))
        return FailOpen("Invalid device configuration found!");

    hasSpeaker_ = (config_[9] & 0x80) != 0;
    range_ = Word(&config_[2]);
    sensitivity_ = static_cast<double>(static_cast<long double>(Word(&config_[4])) * 60 * 0.01L);
    deadTime_ = config_[6] * 1e-6;
    detectionFlags_ = config_[9];
    accuracy_ = static_cast<std::int8_t>(config_[10]);
    if (sensitivity_ == 0.0 || range_ == 0)
        return FailOpen("Unknown configuration error!");

    std::int32_t port = 0;
    if (driver_.GetComPortNumber(handle_, &port) != FT_OK)
        return FailOpen("Failed to get port number");
    info_.ComPortNumber = port;
    // Without a COM port (Linux) "COM-1" would name nothing: the device is
    // named by its description, as in the device list.
    info_.PortName = port > 0 ? QStringLiteral("COM%1").arg(port) : info_.Model;

    if (!ResetCounter())
        return FailOpen("Failed to reset counter");

    RestartAccumulation();
    driver_.SetLatencyTimer(handle_, kLatencyMs);
    lastTick_ = clock_.TickCount();
    return true;
}

void TCounter::ClearHistories() {
    counts_.fill(0);
    elapsed_.fill(0);
}

bool TCounter::Close() {
    if (!open_) {
        lastError_ += QStringLiteral(". Device not open!");
        return false;
    }
    open_ = false;
    ClearHistories();
    accumulatedTotal_ = 0;
    accumulationStart_ = 0.0;
    lastTick_ = 0;
    latestReadingTime_ = 0.0;
    countRate_ = 0.0;
    averagingWindow_ = 0;
    undiscarded_ = 0;
    failedDiscards_ = 0;
    if (driver_.Close(handle_) != FT_OK) {
        causeBeforeClose_ = lastError_;
        lastError_ = kCloseFailed;
        return false;
    }
    return true;
}

QString TCounter::FailureCause() const {
    return lastError_ == kCloseFailed && !causeBeforeClose_.isEmpty() ? causeBeforeClose_
                                                                      : lastError_;
}

bool TCounter::ResetCounter() {
    ClearHistories();
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    if (driver_.Purge(handle_, FT_PURGE_RX | FT_PURGE_TX) != FT_OK) {
        lastError_ = QStringLiteral("Failed to reset counter");
        Close();
        return false;
    }
    undiscarded_ = 0; // the purge emptied the queue
    failedDiscards_ = 0;
    lastTick_ = clock_.TickCount();
    return true;
}

bool TCounter::ReadCounts() {
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    std::uint32_t queued = 0;
    if (driver_.GetQueueStatus(handle_, &queued) != FT_OK) {
        lastError_ = QStringLiteral("Failed to get counts");
        Close();
        return false;
    }
    // Bytes an earlier sample counted but could not discard are still at
    // the front of the queue: they are not counted again.
    const std::uint32_t n = queued - std::min(undiscarded_, queued);
    // Consume exactly the bytes looked at. A full purge here would also throw
    // away the bytes that arrived since the queue status was read, and those
    // pulses would never be counted: readings would run low at high rates.
    if (driver_.DiscardReceived(handle_, queued) == FT_OK) {
        undiscarded_ = 0;
        failedDiscards_ = 0;
    } else {
        undiscarded_ = queued;
        if (++failedDiscards_ >= kMaxFailedDiscards) {
            lastError_ = QStringLiteral("Failed to get counts");
            Close();
            return false;
        }
    }

    const std::uint32_t now = clock_.TickCount();
    const std::uint32_t elapsed = now - lastTick_; // modulo 2^32: survives a wrap
    lastTick_ = now;
    const Clock::Moment taken = clock_.NowWithOffset();
    latestReadingTime_ = taken.local;
    latestReadingOffset_ = taken.utcOffsetSeconds;

    std::copy_backward(counts_.begin(), counts_.end() - 1, counts_.end());
    std::copy_backward(elapsed_.begin(), elapsed_.end() - 1, elapsed_.end());
    counts_[0] = n;
    elapsed_[0] = elapsed;
    accumulatedTotal_ += n;

    std::uint64_t countSum = 0, msSum = 0;
    const int window = std::min(averagingWindow_, kHistorySize);
    for (int i = 0; i < window; ++i) {
        countSum += counts_[i];
        msSum += elapsed_[i];
    }
    countRate_ =
        msSum > 0 ? static_cast<double>(static_cast<long double>(countSum) * 60000 / msSum) : 0.0;

    const double mrPerHour = ConvertRate(countRate_, kMilliRoentgenPerHour);
    if (mrPerHour > range_ || !(mrPerHour >= 0)) {
        countRate_ = kOverrange;
        lastError_ = QStringLiteral("CAUTION: READING OVERRANGE!  DATA IS INVALID!");
        return false;
    }
    return true;
}

bool TCounter::SetBeep(bool on) {
    if (!open_) {
        lastError_ = QStringLiteral("Device not open!");
        return false;
    }
    if (!hasSpeaker_) {
        lastError_ = QStringLiteral("Device does not have a speaker.");
        return false;
    }
    // The speaker clicks while RTS is low.
    const FtStatus status = on ? driver_.ClrRts(handle_) : driver_.SetRts(handle_);
    if (status != FT_OK) {
        lastError_ = QStringLiteral("Failed to set beep");
        Close();
        return false;
    }
    return true;
}

void TCounter::RestartAccumulation() {
    accumulatedTotal_ = 0;
    accumulationStart_ = (open_ && HasReading()) ? latestReadingTime_ : clock_.Now();
}

} // namespace korvinet
