// A stand-in for FTDI's D2XX library, built as a shared library so the tests
// can load it at run time the way the program loads the real one. It knows
// nothing of Korvinet's headers: the records it hands out are laid out byte
// by byte as the library documents them. Built a second time without
// FT_GetComPortNumber to stand for an incomplete library.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Status = std::uint32_t;
using Dword = std::uint32_t;

enum : Status {
    kOk = 0,
    kInvalidHandle = 1,
    kDeviceNotFound = 2,
    kDeviceNotOpened = 3,
    kIoError = 4,
};

struct Device {
    std::string description;
    std::string serial;
    std::vector<unsigned char> userArea;
    std::uint32_t queue = 0;
    bool open = false;
    bool rts = false;
    unsigned long baud = 9600;
    unsigned char latency = 16;
};

std::vector<Device> devices;
std::size_t listed = 0;
Status comPortStatus = 17; // "not supported", as on Linux
std::int32_t comPort = 0;
int overreads = 0; // reads asking for more than was queued (would block)

Device* Live(void* handle) {
    const auto i = reinterpret_cast<std::uintptr_t>(handle);
    if (i == 0 || i > devices.size() || !devices[i - 1].open)
        return nullptr;
    return &devices[i - 1];
}

void Put32(unsigned char* at, std::uint32_t v) {
    std::memcpy(at, &v, 4);
}

} // namespace

// ---------------------------------------------------------------- controls

FAKE_EXPORT void FakeFtd2xx_Reset() {
    devices.clear();
    listed = 0;
    comPortStatus = 17;
    comPort = 0;
    overreads = 0;
}
FAKE_EXPORT int FakeFtd2xx_AddDevice(const char* description, const char* serial,
                                     const unsigned char* userArea, int size) {
    Device d;
    d.description = description;
    d.serial = serial;
    d.userArea.assign(userArea, userArea + size);
    devices.push_back(d);
    return static_cast<int>(devices.size()) - 1;
}
FAKE_EXPORT void FakeFtd2xx_Receive(int device, std::uint32_t count) {
    devices[device].queue += count;
}
FAKE_EXPORT std::uint32_t FakeFtd2xx_Queued(int device) {
    return devices[device].queue;
}
FAKE_EXPORT int FakeFtd2xx_IsOpen(int device) {
    return devices[device].open;
}
FAKE_EXPORT int FakeFtd2xx_Rts(int device) {
    return devices[device].rts;
}
FAKE_EXPORT unsigned long FakeFtd2xx_Baud(int device) {
    return devices[device].baud;
}
FAKE_EXPORT int FakeFtd2xx_Latency(int device) {
    return devices[device].latency;
}
FAKE_EXPORT void FakeFtd2xx_SetComPort(Status status, std::int32_t port) {
    comPortStatus = status;
    comPort = port;
}
FAKE_EXPORT int FakeFtd2xx_Overreads() {
    return overreads;
}

// ---------------------------------------------------------------- the library

FAKE_EXPORT Status FT_CreateDeviceInfoList(Dword* count) {
    listed = devices.size();
    *count = static_cast<Dword>(listed);
    return kOk;
}

// FT_DEVICE_LIST_INFO_NODE: Flags, Type, ID, LocId (4 bytes each), serial
// number [16], description [64], handle. Strings fill their fields whole,
// without a terminating zero when they are that long.
FAKE_EXPORT Status FT_GetDeviceInfoList(unsigned char* records, Dword* count) {
    constexpr std::size_t kRecord = 96 + sizeof(void*);
    for (std::size_t i = 0; i < listed; ++i) {
        unsigned char* r = records + i * kRecord;
        std::memset(r, 0, kRecord);
        Put32(r + 0, devices[i].open ? 1 : 0);
        Put32(r + 4, 5);
        Put32(r + 8, 0x04036001);
        Put32(r + 12, 0x0100 + static_cast<std::uint32_t>(i));
        std::memcpy(r + 16, devices[i].serial.data(),
                    std::min<std::size_t>(16, devices[i].serial.size()));
        std::memcpy(r + 32, devices[i].description.data(),
                    std::min<std::size_t>(64, devices[i].description.size()));
        void* handle = devices[i].open ? reinterpret_cast<void*>(i + 1) : nullptr;
        std::memcpy(r + 96, &handle, sizeof handle);
    }
    *count = static_cast<Dword>(listed);
    return kOk;
}

FAKE_EXPORT Status FT_Open(int index, void** handle) {
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size())
        return kDeviceNotFound;
    if (devices[index].open)
        return kDeviceNotOpened;
    devices[index].open = true;
    devices[index].queue = 0;
    *handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(index) + 1);
    return kOk;
}

FAKE_EXPORT Status FT_Close(void* handle) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    d->open = false;
    return kOk;
}

#ifndef FAKE_FTD2XX_INCOMPLETE
FAKE_EXPORT Status FT_GetComPortNumber(void* handle, std::int32_t* port) {
    if (!Live(handle))
        return kInvalidHandle;
    if (comPortStatus == kOk)
        *port = comPort;
    return comPortStatus;
}
#endif

FAKE_EXPORT Status FT_SetBaudRate(void* handle, unsigned long baud) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    d->baud = baud;
    return kOk;
}

FAKE_EXPORT Status FT_GetDeviceInfo(void* handle, std::uint32_t* type, Dword* id, char* serial,
                                    char* description, void*) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    *type = 5;
    *id = 0x04036001;
    std::strncpy(serial, d->serial.c_str(), 16);
    std::strncpy(description, d->description.c_str(), 64);
    return kOk;
}

FAKE_EXPORT Status FT_EE_UARead(void* handle, unsigned char* data, Dword size, Dword* read) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    const auto n = std::min<std::size_t>(size, d->userArea.size());
    std::copy_n(d->userArea.begin(), n, data);
    *read = static_cast<Dword>(n);
    return kOk;
}

FAKE_EXPORT Status FT_SetLatencyTimer(void* handle, unsigned char ms) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    d->latency = ms;
    return kOk;
}

FAKE_EXPORT Status FT_Purge(void* handle, unsigned long mask) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    if (mask & 1)
        d->queue = 0;
    return kOk;
}

FAKE_EXPORT Status FT_GetQueueStatus(void* handle, Dword* count) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    *count = d->queue;
    return kOk;
}

FAKE_EXPORT Status FT_SetRts(void* handle) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    d->rts = true;
    return kOk;
}

FAKE_EXPORT Status FT_ClrRts(void* handle) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    d->rts = false;
    return kOk;
}

FAKE_EXPORT Status FT_Read(void* handle, void* buffer, Dword size, Dword* read) {
    Device* d = Live(handle);
    if (!d)
        return kInvalidHandle;
    if (size > d->queue) {
        // The real library would wait for the missing bytes, possibly forever.
        ++overreads;
        return kIoError;
    }
    std::memset(buffer, 0, size);
    d->queue -= size;
    *read = size;
    return kOk;
}
