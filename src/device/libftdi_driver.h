#pragma once

#include "device/d2xx.h"

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

struct ftdi_context;

namespace korvinet::device {

class ReceivePump;

// The driver backend over libftdi (libusb underneath), for Linux without
// FTDI's own library. Each open device gets a ReceivePump whose thread owns
// the device's libftdi context and drains USB continuously, so pulses that
// arrive between two samples are counted, not lost in the chip's FIFO.
//
// Linux has no COM ports for these devices: GetComPortNumber reports
// kNoComPort. Opening a device detaches the kernel's ftdi_sio driver from it;
// closing re-attaches it.
class LibFtdiDriver final : public D2xxDriver {
public:
    // Null (and why) when libusb cannot be set up.
    static std::unique_ptr<LibFtdiDriver> Create(QString* whyUnavailable = nullptr);
    ~LibFtdiDriver() override;

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
    FtStatus GetOverrunCount(FtHandle handle, std::uint32_t* overruns) override;

private:
    struct Entry {
        std::uint8_t bus = 0;
        std::uint8_t address = 0;
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        QString serialNumber;
        QString description;
    };
    struct Device;

    explicit LibFtdiDriver(ftdi_context* listing);
    Device* Find(FtHandle handle);
    FtStatus Enumerate();

    ftdi_context* listing_; // used only to enumerate devices and read their strings
    std::vector<Entry> entries_;
    bool enumerated_ = false;
    std::map<FtHandle, std::unique_ptr<Device>> open_;
    FtHandle nextHandle_ = 1;
};

} // namespace korvinet::device
