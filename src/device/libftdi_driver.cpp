#include "device/libftdi_driver.h"

#include "device/eeprom_user_area.h"
#include "device/libftdi_port.h"
#include "device/receive_pump.h"

#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <ftdi.h>
#include <libusb.h>

namespace korvinet::device {

namespace {

// For libftdi's own requests (EEPROM, line settings); the port's reads have
// their own time limit.
constexpr int kReadTimeoutMs = LibFtdiPort::kTransferTimeoutMs;
// ftdi_read_data copies at most this much of the EEPROM image.
constexpr int kEepromImageSize = 256;

// D2XX's numbering of the chip families (FT_DEVICE_*).
std::uint32_t D2xxDeviceType(FtdiChip chip) {
    switch (chip) {
    case FtdiChip::BM:
        return 0;
    case FtdiChip::AM:
        return 1;
    case FtdiChip::FT2232C:
        return 4;
    case FtdiChip::FT232R:
        return 5;
    case FtdiChip::FT2232H:
        return 6;
    case FtdiChip::FT4232H:
        return 7;
    case FtdiChip::FT232H:
        return 8;
    case FtdiChip::FTX:
        return 9;
    }
    return 3; // unknown
}

QString Text(const char* bytes, std::size_t capacity) {
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, capacity)));
}

} // namespace

struct LibFtdiDriver::Device {
    Entry entry;
    FtdiChip chip = FtdiChip::FT232R;
    ftdi_context* ftdi = nullptr; // owned by the pump's port; used on the pump's thread only
    std::unique_ptr<ReceivePump> pump;
    bool userAreaRead = false;
    std::vector<std::uint8_t> userArea;

    // Runs a libftdi call on the pump's thread; failure when it returns < 0.
    template <typename F> FtStatus Call(F call, FtStatus failure) {
        ftdi_context* f = ftdi;
        const int result = pump->Call([f, &call] { return call(f); });
        return result < 0 ? failure : FT_OK;
    }
};

std::unique_ptr<LibFtdiDriver> LibFtdiDriver::Create(QString* whyUnavailable) {
    ftdi_context* listing = ftdi_new();
    if (!listing) {
        if (whyUnavailable)
            *whyUnavailable = QStringLiteral("libftdi could not set up libusb");
        return nullptr;
    }
    return std::unique_ptr<LibFtdiDriver>(new LibFtdiDriver(listing));
}

LibFtdiDriver::LibFtdiDriver(ftdi_context* listing) : listing_(listing) {}

LibFtdiDriver::~LibFtdiDriver() {
    open_.clear(); // stops the pumps and closes the devices first
    ftdi_free(listing_);
}

FtStatus LibFtdiDriver::Enumerate() {
    entries_.clear();
    enumerated_ = true;
    ftdi_device_list* list = nullptr;
    // Vendor and product 0 match every FTDI bridge libftdi knows
    // (0403:6001, 6010, 6011, 6014, 6015).
    if (ftdi_usb_find_all(listing_, &list, 0, 0) < 0)
        return FT_IO_ERROR;
    for (ftdi_device_list* item = list; item; item = item->next) {
        Entry entry;
        entry.bus = libusb_get_bus_number(item->dev);
        entry.address = libusb_get_device_address(item->dev);
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(item->dev, &descriptor) == 0) {
            entry.vendor = descriptor.idVendor;
            entry.product = descriptor.idProduct;
        }
        char description[64] = {};
        char serial[16] = {};
        // A device without a serial number fails here after the description
        // was read; what was read still counts.
        if (ftdi_usb_get_strings(listing_, item->dev, nullptr, 0, description, sizeof description,
                                 serial, sizeof serial) < 0 &&
            description[0] == '\0')
            qWarning("FTDI device %04x:%04x on USB bus %u address %u cannot be read (%s); "
                     "without access rights it cannot be listed: see README, \"Real counters\"",
                     entry.vendor, entry.product, entry.bus, entry.address,
                     ftdi_get_error_string(listing_));
        entry.description = Text(description, sizeof description);
        entry.serialNumber = Text(serial, sizeof serial);
        entries_.push_back(entry);
    }
    ftdi_list_free(&list);
    return FT_OK;
}

FtStatus LibFtdiDriver::CreateDeviceInfoList(std::uint32_t* numDevices) {
    const FtStatus status = Enumerate();
    *numDevices = static_cast<std::uint32_t>(entries_.size());
    return status;
}

FtStatus LibFtdiDriver::GetDeviceInfoList(std::vector<FtDeviceListInfoNode>& list,
                                          std::uint32_t* numDevices) {
    list.clear();
    for (const Entry& entry : entries_) {
        FtDeviceListInfoNode node;
        node.Flags = std::any_of(open_.begin(), open_.end(),
                                 [&](const auto& d) {
                                     return d.second->entry.bus == entry.bus &&
                                            d.second->entry.address == entry.address;
                                 })
                         ? 1
                         : 0; // FT_FLAGS_OPENED
        node.ID = (static_cast<std::uint32_t>(entry.vendor) << 16) | entry.product;
        node.LocId = (static_cast<std::uint32_t>(entry.bus) << 8) | entry.address;
        node.SerialNumber = entry.serialNumber;
        node.Description = entry.description;
        list.push_back(node);
    }
    *numDevices = static_cast<std::uint32_t>(list.size());
    return FT_OK;
}

FtStatus LibFtdiDriver::Open(int index, FtHandle* handle) {
    if (!enumerated_)
        Enumerate();
    if (index < 0 || index >= static_cast<int>(entries_.size()))
        return FT_DEVICE_NOT_FOUND;
    const Entry& entry = entries_[static_cast<std::size_t>(index)];
    for (const auto& [h, device] : open_)
        if (device->entry.bus == entry.bus && device->entry.address == entry.address)
            return FT_DEVICE_NOT_OPENED; // one handle per device

    ftdi_context* ftdi = ftdi_new();
    if (!ftdi)
        return FT_INSUFFICIENT_RESOURCES;
    ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    if (ftdi_usb_open_bus_addr(ftdi, entry.bus, entry.address) < 0) {
        qWarning("Cannot open FTDI device on USB bus %u address %u: %s", entry.bus, entry.address,
                 ftdi_get_error_string(ftdi));
        ftdi_free(ftdi);
        return FT_DEVICE_NOT_OPENED;
    }
    ftdi->usb_read_timeout = kReadTimeoutMs;

    auto device = std::make_unique<Device>();
    device->entry = entry;
    device->chip = static_cast<FtdiChip>(ftdi->type);
    device->ftdi = ftdi;
    ReceivePump::Options options;
    const QByteArray name = entry.description.toLatin1();
    options.onOverrun = [name](std::uint64_t total) {
        qWarning("%s: receive overrun (%llu so far): the chip's buffer overflowed and counts "
                 "were lost",
                 name.constData(), static_cast<unsigned long long>(total));
    };
    device->pump = std::make_unique<ReceivePump>(std::make_unique<LibFtdiPort>(ftdi), options);

    *handle = nextHandle_++;
    open_.emplace(*handle, std::move(device));
    return FT_OK;
}

LibFtdiDriver::Device* LibFtdiDriver::Find(FtHandle handle) {
    const auto it = open_.find(handle);
    return it == open_.end() ? nullptr : it->second.get();
}

FtStatus LibFtdiDriver::Close(FtHandle handle) {
    const auto it = open_.find(handle);
    if (it == open_.end())
        return FT_INVALID_HANDLE;
    open_.erase(it); // stops the pump, closes the device
    return FT_OK;
}

FtStatus LibFtdiDriver::GetComPortNumber(FtHandle handle, std::int32_t* port) {
    if (!Find(handle))
        return FT_INVALID_HANDLE;
    *port = kNoComPort;
    return FT_OK;
}

FtStatus LibFtdiDriver::SetBaudRate(FtHandle handle, std::uint32_t baud) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    return d->Call([baud](ftdi_context* f) { return ftdi_set_baudrate(f, static_cast<int>(baud)); },
                   FT_INVALID_BAUD_RATE);
}

FtStatus LibFtdiDriver::GetDeviceInfo(FtHandle handle, std::uint32_t* type, std::uint32_t* id,
                                      QString* serialNumber, QString* description) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    *type = D2xxDeviceType(d->chip);
    *id = (static_cast<std::uint32_t>(d->entry.vendor) << 16) | d->entry.product;
    *serialNumber = d->entry.serialNumber;
    *description = d->entry.description;
    return FT_OK;
}

FtStatus LibFtdiDriver::EE_UARead(FtHandle handle, std::uint8_t* data, std::uint32_t size,
                                  std::uint32_t* bytesRead) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!d->userAreaRead) {
        // Twice the largest image: libftdi refuses a buffer smaller than the
        // size it guessed and copies no more than it read.
        std::vector<std::uint8_t> image(2 * kEepromImageSize, 0xFF);
        const FtStatus status = d->Call(
            [&image](ftdi_context* f) {
                const int result = ftdi_read_eeprom(f);
                return result < 0
                           ? result
                           : ftdi_get_eeprom_buf(f, image.data(), static_cast<int>(image.size()));
            },
            FT_EEPROM_READ_FAILED);
        if (status != FT_OK)
            return status;
        image.resize(kEepromImageSize);
        d->userArea = LocateUserArea(d->chip, image);
        d->userAreaRead = true;
    }
    const auto n = std::min<std::size_t>(size, d->userArea.size());
    std::copy_n(d->userArea.begin(), n, data);
    *bytesRead = static_cast<std::uint32_t>(n);
    return FT_OK;
}

FtStatus LibFtdiDriver::SetLatencyTimer(FtHandle handle, std::uint8_t ms) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    return d->Call([ms](ftdi_context* f) { return ftdi_set_latency_timer(f, ms); },
                   FT_INVALID_PARAMETER);
}

FtStatus LibFtdiDriver::Purge(FtHandle handle, std::uint32_t mask) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    FtStatus status = FT_OK;
    if ((mask & FT_PURGE_RX) && d->pump->PurgeReceived() < 0)
        status = FT_IO_ERROR;
    if (mask & FT_PURGE_TX) {
        if (d->Call([](ftdi_context* f) { return ftdi_tcoflush(f); }, FT_IO_ERROR) != FT_OK)
            status = FT_IO_ERROR;
    }
    return status;
}

FtStatus LibFtdiDriver::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (d->pump->Lost())
        return FT_IO_ERROR; // unplugged: no count can be trusted any more
    *rxBytes = d->pump->Queued();
    return FT_OK;
}

FtStatus LibFtdiDriver::DiscardReceived(FtHandle handle, std::uint32_t count) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->pump->Discard(count);
    return FT_OK;
}

// RTS high is the D2XX "set", low the "clear".
FtStatus LibFtdiDriver::SetRts(FtHandle handle) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    return d->Call([](ftdi_context* f) { return ftdi_setrts(f, 1); }, FT_IO_ERROR);
}

FtStatus LibFtdiDriver::ClrRts(FtHandle handle) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    return d->Call([](ftdi_context* f) { return ftdi_setrts(f, 0); }, FT_IO_ERROR);
}

FtStatus LibFtdiDriver::GetOverrunCount(FtHandle handle, std::uint32_t* overruns) {
    Device* d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    *overruns = static_cast<std::uint32_t>(d->pump->Overruns());
    return FT_OK;
}

} // namespace korvinet::device
