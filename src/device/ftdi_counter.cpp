#include "device/ftdi_counter.h"

#include <algorithm>

namespace korvinet::device {

namespace {

constexpr std::uint32_t kUserAreaSize = 64;
constexpr std::uint8_t kLatencyMs = 2;

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

std::uint16_t FtdiCounter::ConfigChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

CounterDevice::OpenResult FtdiCounter::Fail(const char* message, QString* error) {
    *error = QString::fromLatin1(message);
    if (driver_.Close(handle_) != FT_OK)
        *error = QStringLiteral("Failed to close device");
    return OpenResult::Closed;
}

CounterDevice::OpenResult FtdiCounter::Open(QString* error) {
    FtHandle handle = 0;
    if (driver_.Open(index_, &handle) != FT_OK) {
        *error = QStringLiteral("Failed to open port. Device not open!");
        return OpenResult::NotOpened;
    }
    handle_ = handle;

    if (driver_.SetBaudRate(handle_, kBaudRate) != FT_OK)
        return Fail("Failed to change baud rate", error);

    std::uint32_t type = 0, id = 0;
    QString serial, description;
    if (driver_.GetDeviceInfo(handle_, &type, &id, &serial, &description) != FT_OK)
        return Fail("Failed to get device information", error);
    facts_.serial = serial;
    facts_.model = description;
    facts_.kind = kKindName;

    std::uint8_t area[kUserAreaSize] = {};
    std::uint32_t read = 0;
    if (driver_.EE_UARead(handle_, area, kUserAreaSize, &read) != FT_OK)
        return Fail("Failed to read device configuration", error);
    if (read < 2)
        return Fail("No device configuration found!", error);
    if (area[0] != 1)
        return Fail("Unknown device, update your software!", error);
    if (area[1] != 1 && area[1] != 2)
        return Fail("Unknown device revision, update your software!", error);
    if (read < kConfigSize)
        return Fail("Invalid configuration size!", error);
    std::copy(area, area + kConfigSize, config_.begin());
    if (ConfigChecksum(config_.data(), 11) != Word(&config_[11]))
        return Fail("Invalid device configuration found!", error);

    facts_.speaker = (config_[9] & 0x80) != 0;
    facts_.range = Word(&config_[2]);
    CounterCalibration calibration;
    calibration.sensitivity =
        static_cast<double>(static_cast<long double>(Word(&config_[4])) * 60 * 0.01L);
    calibration.deadTime = config_[6] * 1e-6;
    calibration.source = QStringLiteral("EEPROM");
    calibration_ = calibration;
    facts_.detectionFlags = config_[9];
    facts_.accuracy = static_cast<std::int8_t>(config_[10]);
    if (calibration.sensitivity == 0.0 || facts_.range == 0)
        return Fail("Unknown configuration error!", error);

    std::int32_t port = 0;
    if (driver_.GetComPortNumber(handle_, &port) != FT_OK)
        return Fail("Failed to get port number", error);
    facts_.comPort = port;
    // Without a COM port (Linux) "COM-1" would name nothing: the device is
    // named by its description, as in the device list.
    facts_.port = port > 0 ? QStringLiteral("COM%1").arg(port) : facts_.model;

    if (!Restart()) {
        // Whatever closing says, the reset is what failed.
        (void)driver_.Close(handle_);
        *error = QStringLiteral("Failed to reset counter. Device not open!");
        return OpenResult::Closed;
    }
    driver_.SetLatencyTimer(handle_, kLatencyMs);
    return OpenResult::Opened;
}

bool FtdiCounter::Restart() {
    if (driver_.Purge(handle_, FT_PURGE_RX | FT_PURGE_TX) != FT_OK)
        return false;
    undiscarded_ = 0; // the purge emptied the queue
    failedDiscards_ = 0;
    return true;
}

bool FtdiCounter::Sample(CounterSample* sample, QString*) {
    std::uint32_t queued = 0;
    if (driver_.GetQueueStatus(handle_, &queued) != FT_OK)
        return false;
    // Bytes an earlier sample counted but could not discard are still at
    // the front of the queue: they are not counted again.
    sample->counts = queued - std::min(undiscarded_, queued);
    // Consume exactly the bytes looked at. A full purge here would also throw
    // away the bytes that arrived since the queue status was read, and those
    // pulses would never be counted: readings would run low at high rates.
    if (driver_.DiscardReceived(handle_, queued) == FT_OK) {
        undiscarded_ = 0;
        failedDiscards_ = 0;
    } else {
        undiscarded_ = queued;
        if (++failedDiscards_ >= kMaxFailedDiscards)
            return false;
    }
    return true;
}

bool FtdiCounter::SetBeep(bool on) {
    // The speaker clicks while RTS is low.
    return (on ? driver_.ClrRts(handle_) : driver_.SetRts(handle_)) == FT_OK;
}

bool FtdiCounter::Close() {
    return driver_.Close(handle_) == FT_OK;
}

std::vector<ListedCounter> FtdiFinder::List() {
    std::vector<ListedCounter> found;
    std::uint32_t n = 0;
    driver_.CreateDeviceInfoList(&n); // a failure leaves n at 0
    if (n == 0)
        return found;
    std::vector<FtDeviceListInfoNode> nodes;
    if (driver_.GetDeviceInfoList(nodes, &n) != FT_OK)
        return found;
    for (std::uint32_t i = 0; i < n && i < nodes.size(); ++i) {
        const QString& description = nodes[i].Description;
        if (!description.contains(FtdiCounter::kModelString, Qt::CaseSensitive))
            continue;
        std::int32_t port = 0;
        FtHandle probe = 0;
        if (driver_.Open(static_cast<int>(i), &probe) == FT_OK) {
            driver_.GetComPortNumber(probe, &port);
            driver_.Close(probe);
        }
        ListedCounter counter;
        counter.name = port > 0
                           ? QStringLiteral("COM%1: %2").arg(port).arg(FtdiCounter::kModelString)
                           : description;
        counter.serial = nodes[i].SerialNumber;
        counter.description = description;
        counter.address = QString::number(i);
        found.push_back(counter);
    }
    return found;
}

std::unique_ptr<CounterDevice> FtdiFinder::Make(const ListedCounter& counter) {
    bool ok = false;
    const uint index = counter.address.toUInt(&ok);
    if (!ok)
        return nullptr;
    return std::make_unique<FtdiCounter>(driver_, static_cast<int>(index));
}

} // namespace korvinet::device
