#pragma once

#include "device/d2xx.h"

#include <memory>

namespace korvinet::device {

class D2xxLibrary;

// The driver backend over FTDI's own D2XX library, loaded at run time. The
// library drains USB on its own threads and keeps the received bytes in its
// queue; DiscardReceived reads and drops exactly the counted bytes.
class D2xxLibraryDriver final : public D2xxDriver {
public:
    explicit D2xxLibraryDriver(std::unique_ptr<D2xxLibrary> library);
    ~D2xxLibraryDriver() override;

    FtStatus CreateDeviceInfoList(std::uint32_t* numDevices) override;
    FtStatus GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                               std::uint32_t* numDevices) override;
    FtStatus Open(int index, FtHandle* handle) override;
    FtStatus Close(FtHandle handle) override;
    FtStatus GetComPortNumber(FtHandle handle, std::int32_t* port) override;
    FtStatus SetBaudRate(FtHandle handle, std::uint32_t baud) override;
    FtStatus GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                           QString* serialNumber, QString* description) override;
    FtStatus EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                       std::uint32_t* bytesRead) override;
    FtStatus SetLatencyTimer(FtHandle handle, std::uint8_t ms) override;
    FtStatus Purge(FtHandle handle, std::uint32_t mask) override;
    FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override;
    FtStatus DiscardReceived(FtHandle handle, std::uint32_t count) override;
    FtStatus SetRts(FtHandle handle) override;
    FtStatus ClrRts(FtHandle handle) override;

private:
    std::unique_ptr<D2xxLibrary> library_;
};

} // namespace korvinet::device
