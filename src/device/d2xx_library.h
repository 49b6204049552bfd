#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvinet::device {

// Our own declarations of the parts of FTDI's D2XX library that Korvinet
// calls, so nothing of FTDI's is needed to build: the library is looked for
// at run time (libftd2xx.so on Linux, FTD2XX.DLL on Windows).
namespace ftd2xx {

#if defined(_WIN32) && !defined(_WIN64)
#define KORVINET_FTAPI __stdcall
#else
#define KORVINET_FTAPI
#endif

// FT_STATUS and DWORD are 32-bit on every platform the library ships for.
// Values passed back through ULONG and LONG pointers are received into
// 64-bit storage (see D2xxLibraryDriver), which holds either width.
using Status = std::uint32_t;
using Handle = void*;

constexpr Status kNotSupported = 17; // FT_NOT_SUPPORTED, e.g. no COM ports on Linux

// FT_DEVICE_LIST_INFO_NODE.
struct DeviceListInfoNode {
    std::uint32_t Flags;
    std::uint32_t Type;
    std::uint32_t ID;
    std::uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    Handle ftHandle;
};
static_assert(offsetof(DeviceListInfoNode, SerialNumber) == 16);
static_assert(offsetof(DeviceListInfoNode, Description) == 32);
static_assert(offsetof(DeviceListInfoNode, ftHandle) == 96);
static_assert(sizeof(void*) != 8 || sizeof(DeviceListInfoNode) == 104);
static_assert(sizeof(void*) != 4 || sizeof(DeviceListInfoNode) == 100);

using CreateDeviceInfoListFn = Status(KORVINET_FTAPI*)(std::uint32_t* numDevices);
using GetDeviceInfoListFn = Status(KORVINET_FTAPI*)(DeviceListInfoNode* list,
                                                    std::uint32_t* numDevices);
using OpenFn = Status(KORVINET_FTAPI*)(int index, Handle* handle);
using CloseFn = Status(KORVINET_FTAPI*)(Handle handle);
using GetComPortNumberFn = Status(KORVINET_FTAPI*)(Handle handle, void* comPortNumber);
using SetBaudRateFn = Status(KORVINET_FTAPI*)(Handle handle, unsigned long baud);
using GetDeviceInfoFn = Status(KORVINET_FTAPI*)(Handle handle, void* type, std::uint32_t* id,
                                                char* serialNumber, char* description, void* dummy);
using EE_UAReadFn = Status(KORVINET_FTAPI*)(Handle handle, unsigned char* data, std::uint32_t size,
                                            std::uint32_t* bytesRead);
using SetLatencyTimerFn = Status(KORVINET_FTAPI*)(Handle handle, unsigned char ms);
using PurgeFn = Status(KORVINET_FTAPI*)(Handle handle, unsigned long mask);
using GetQueueStatusFn = Status(KORVINET_FTAPI*)(Handle handle, std::uint32_t* rxBytes);
using SetRtsFn = Status(KORVINET_FTAPI*)(Handle handle);
using ClrRtsFn = Status(KORVINET_FTAPI*)(Handle handle);
using ReadFn = Status(KORVINET_FTAPI*)(Handle handle, void* buffer, std::uint32_t size,
                                       std::uint32_t* bytesRead);

} // namespace ftd2xx

// The loaded library and the functions taken from it. All of them are
// required: a library that lacks one is refused with its name.
class D2xxLibrary {
public:
    // The name the operating system looks for when no path is given.
    static QString DefaultName();

    // Loads the library at path (or by its usual name); null, with the reason
    // in whyNot, when it is missing or incomplete.
    static std::unique_ptr<D2xxLibrary> Load(const QString& path, QString* whyNot);
    ~D2xxLibrary();
    D2xxLibrary(const D2xxLibrary&) = delete;
    D2xxLibrary& operator=(const D2xxLibrary&) = delete;

    const QString& Path() const { return path_; }

    ftd2xx::CreateDeviceInfoListFn CreateDeviceInfoList = nullptr;
    ftd2xx::GetDeviceInfoListFn GetDeviceInfoList = nullptr;
    ftd2xx::OpenFn Open = nullptr;
    ftd2xx::CloseFn Close = nullptr;
    ftd2xx::GetComPortNumberFn GetComPortNumber = nullptr;
    ftd2xx::SetBaudRateFn SetBaudRate = nullptr;
    ftd2xx::GetDeviceInfoFn GetDeviceInfo = nullptr;
    ftd2xx::EE_UAReadFn EE_UARead = nullptr;
    ftd2xx::SetLatencyTimerFn SetLatencyTimer = nullptr;
    ftd2xx::PurgeFn Purge = nullptr;
    ftd2xx::GetQueueStatusFn GetQueueStatus = nullptr;
    ftd2xx::SetRtsFn SetRts = nullptr;
    ftd2xx::ClrRtsFn ClrRts = nullptr;
    // Removes exactly the bytes a sample counted (FT_Purge would drop the
    // ones that arrived since).
    ftd2xx::ReadFn Read = nullptr;

private:
    D2xxLibrary() = default;
    void* module_ = nullptr;
    QString path_;
};

} // namespace korvinet::device
