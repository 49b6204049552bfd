#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace korvinet::device {

// The USB-serial driver as the counter code sees it: the handful of calls a
// counter session needs, shaped after the vendor's D2XX library (status codes,
// out-parameters, handles) so a backend over that library is a thin shim.
// Backends: SimulatedDriver (tests, demo) and the hardware ones.
using FtStatus = std::uint32_t;
using FtHandle = std::uintptr_t;

enum : FtStatus {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_EEPROM_READ_FAILED = 11,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
};

// The port number a backend reports for a device that has no COM port (as on
// Linux): the counter then names the device by its description.
constexpr std::int32_t kNoComPort = -1;

enum : std::uint32_t {
    FT_PURGE_RX = 1,
    FT_PURGE_TX = 2,
};

// One entry of the driver's device list.
struct FtDeviceListInfoNode {
    std::uint32_t Flags = 0;
    std::uint32_t Type = 0;
    std::uint32_t ID = 0;
    std::uint32_t LocId = 0;
    QString SerialNumber;
    QString Description;
};

class D2xxDriver {
public:
    virtual ~D2xxDriver() = default;

    // Builds the driver's device list; numDevices receives its length.
    virtual FtStatus CreateDeviceInfoList(std::uint32_t* numDevices) = 0;
    // Fills list with the records of the list built last.
    virtual FtStatus GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                                       std::uint32_t* numDevices) = 0;
    virtual FtStatus Open(int index, FtHandle* handle) = 0;
    virtual FtStatus Close(FtHandle handle) = 0;
    // 0 or less means the device has no COM port.
    virtual FtStatus GetComPortNumber(FtHandle handle, std::int32_t* port) = 0;
    virtual FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) = 0;
    virtual FtStatus GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                                   QString* serialNumber, QString* description) = 0;
    // Reads up to size bytes of the EEPROM user area.
    virtual FtStatus EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                               std::uint32_t* bytesRead) = 0;
    virtual FtStatus SetLatencyTimer(FtHandle handle, std::uint8_t ms) = 0;
    // Empties the receive and/or transmit buffers (FT_PURGE_RX | FT_PURGE_TX).
    virtual FtStatus Purge(FtHandle handle, std::uint32_t mask) = 0;
    // Bytes waiting in the receive queue.
    virtual FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) = 0;
    // Removes exactly count bytes from the front of the receive queue. Unlike
    // Purge, bytes that arrived after the caller last looked at the queue stay
    // in it, so a sampler that discards what it counted never loses a pulse.
    virtual FtStatus DiscardReceived(FtHandle handle, std::uint32_t count) = 0;
    virtual FtStatus SetRts(FtHandle handle) = 0;
    virtual FtStatus ClrRts(FtHandle handle) = 0;
    // How often the bridge chip's receive FIFO overflowed since the device
    // was opened (pulses were lost). Backends that cannot tell report 0.
    virtual FtStatus GetOverrunCount(FtHandle handle, std::uint32_t* overruns) {
        (void)handle;
        *overruns = 0;
        return FT_OK;
    }
};

} // namespace korvinet::device
