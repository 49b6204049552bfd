#include "device/d2xx_library_driver.h"

#include "device/d2xx_library.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace korvinet::device {

namespace {

ftd2xx::Handle H(FtHandle handle) {
    return reinterpret_cast<ftd2xx::Handle>(handle);
}

// Strings of the library's fixed-size fields need not end in a zero byte.
QString Text(const char* bytes, std::size_t capacity) {
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, capacity)));
}

// A ULONG or LONG passed back through a pointer: 32 bits on Windows, and on
// Linux whatever the library's own headers made of it. Zeroed 64-bit storage
// takes either; on little-endian machines the low half is the value.
struct WideOut {
    alignas(8) unsigned char bytes[8] = {};
    std::int32_t Value() const {
        std::int32_t v = 0;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
};

} // namespace

D2xxLibraryDriver::D2xxLibraryDriver(std::unique_ptr<D2xxLibrary> library)
    : library_(std::move(library)) {}

D2xxLibraryDriver::~D2xxLibraryDriver() = default;

FtStatus D2xxLibraryDriver::CreateDeviceInfoList(std::uint32_t* numDevices) {
    *numDevices = 0;
    return library_->CreateDeviceInfoList(numDevices);
}

FtStatus D2xxLibraryDriver::GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                                              std::uint32_t* numDevices) {
    list.clear();
    // The library fills as many records as its own list holds: ask how many
    // first, so a device plugged in since cannot write past the buffer.
    std::uint32_t count = 0;
    if (const FtStatus s = library_->CreateDeviceInfoList(&count); s != FT_OK)
        return s;
    std::vector<ftd2xx::DeviceListInfoNode> nodes(count + 1);
    std::memset(nodes.data(), 0, nodes.size() * sizeof(ftd2xx::DeviceListInfoNode));
    std::uint32_t filled = count;
    if (const FtStatus s = library_->GetDeviceInfoList(nodes.data(), &filled); s != FT_OK)
        return s;
    filled = std::min(filled, count);
    for (std::uint32_t i = 0; i < filled; ++i) {
        const ftd2xx::DeviceListInfoNode& n = nodes[i];
        FtDeviceListInfoNode node;
        node.Flags = n.Flags;
        node.Type = n.Type;
        node.ID = n.ID;
        node.LocId = n.LocId;
        node.SerialNumber = Text(n.SerialNumber, sizeof n.SerialNumber);
        node.Description = Text(n.Description, sizeof n.Description);
        list.push_back(node);
    }
    *numDevices = filled;
    return FT_OK;
}

FtStatus D2xxLibraryDriver::Open(int index, FtHandle* handle) {
    ftd2xx::Handle h = nullptr;
    const FtStatus s = library_->Open(index, &h);
    if (s == FT_OK)
        *handle = reinterpret_cast<FtHandle>(h);
    return s;
}

FtStatus D2xxLibraryDriver::Close(FtHandle handle) {
    return library_->Close(H(handle));
}

FtStatus D2xxLibraryDriver::GetComPortNumber(FtHandle handle, std::int32_t* port) {
    WideOut number;
    const FtStatus s = library_->GetComPortNumber(H(handle), number.bytes);
    if (s == ftd2xx::kNotSupported) {
        // Linux: the device has no COM port, which is not a failure.
        *port = kNoComPort;
        return FT_OK;
    }
    if (s == FT_OK)
        *port = number.Value();
    return s;
}

FtStatus D2xxLibraryDriver::SetBaudRate(FtHandle handle, std::uint32_t baud) {
    return library_->SetBaudRate(H(handle), baud);
}

FtStatus D2xxLibraryDriver::GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                                          QString* serialNumber, QString* description) {
    WideOut deviceType;
    std::uint32_t deviceId = 0;
    // Room to spare beyond the 16 and 64 bytes the library is documented to use.
    std::array<char, 64> serial{};
    std::array<char, 128> text{};
    const FtStatus s = library_->GetDeviceInfo(H(handle), deviceType.bytes, &deviceId,
                                               serial.data(), text.data(), nullptr);
    if (s != FT_OK)
        return s;
    *type = static_cast<std::uint32_t>(deviceType.Value());
    *id = deviceId;
    *serialNumber = Text(serial.data(), 16);
    *description = Text(text.data(), 64);
    return FT_OK;
}

FtStatus D2xxLibraryDriver::EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                                      std::uint32_t* bytesRead) {
    std::uint32_t read = 0;
    const FtStatus s = library_->EE_UARead(H(handle), data, size, &read);
    *bytesRead = std::min(read, size);
    return s;
}

FtStatus D2xxLibraryDriver::SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
    return library_->SetLatencyTimer(H(handle), ms);
}

FtStatus D2xxLibraryDriver::Purge(FtHandle handle, std::uint32_t mask) {
    return library_->Purge(H(handle), mask);
}

FtStatus D2xxLibraryDriver::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
    return library_->GetQueueStatus(H(handle), rxBytes);
}

FtStatus D2xxLibraryDriver::DiscardReceived(FtHandle handle, std::uint32_t count) {
    // Never ask for more than is waiting: the library's read would block
    // until that many bytes arrived.
    std::uint32_t waiting = 0;
    if (const FtStatus s = library_->GetQueueStatus(H(handle), &waiting); s != FT_OK)
        return s;
    std::uint32_t left = std::min(count, waiting);
    std::array<std::uint8_t, 4096> sink;
    while (left > 0) {
        const std::uint32_t chunk = std::min<std::uint32_t>(left, sink.size());
        std::uint32_t read = 0;
        if (const FtStatus s = library_->Read(H(handle), sink.data(), chunk, &read); s != FT_OK)
            return s;
        if (read == 0)
            break;
        left -= std::min(read, left);
    }
    return FT_OK;
}

FtStatus D2xxLibraryDriver::SetRts(FtHandle handle) {
    return library_->SetRts(H(handle));
}

FtStatus D2xxLibraryDriver::ClrRts(FtHandle handle) {
    return library_->ClrRts(H(handle));
}

} // namespace korvinet::device
