#include "device/libftdi_port.h"

#include <algorithm>
#include <chrono>
#include <ftdi.h>
#include <libusb.h>
#include <utility>

namespace korvinet::device {

namespace {

// Every packet the chip sends starts with its modem and line status bytes.
constexpr int kStatusBytes = 2;

timeval Milliseconds(int ms) {
    return {ms / 1000, (ms % 1000) * 1000};
}

} // namespace

LibFtdiPort::LibFtdiPort(ftdi_context* ftdi) : ftdi_(ftdi), transfers_(kTransfersQueued) {
    // One packet per transfer: each comes back as soon as the chip has sent
    // anything at all.
    const int packet = ftdi_->max_packet_size > kStatusBytes ? ftdi_->max_packet_size : 64;
    for (Transfer& t : transfers_) {
        t.port = this;
        t.buffer.resize(static_cast<std::size_t>(packet));
        t.usb = libusb_alloc_transfer(0);
    }
}

LibFtdiPort::~LibFtdiPort() {
    // A transfer still queued must not be freed under the host controller;
    // should the device never give one back, the few bytes stay allocated.
    if (CancelAll())
        for (Transfer& t : transfers_)
            libusb_free_transfer(t.usb);
    ftdi_usb_close(ftdi_); // gives the device back to ftdi_sio
    ftdi_free(ftdi_);
}

void LIBUSB_CALL LibFtdiPort::Completed(libusb_transfer* transfer) {
    auto* t = static_cast<Transfer*>(transfer->user_data);
    t->port->Take(*t);
}

void LibFtdiPort::Take(Transfer& t) {
    const libusb_transfer& usb = *t.usb;
    t.queued = false;
    ++completions_;
    int error = 0;
    switch (usb.status) {
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_TIMED_OUT:
        if (usb.actual_length >= kStatusBytes)
            lineStatus_ |= usb.buffer[1];
        if (usb.actual_length > kStatusBytes)
            inbox_.insert(inbox_.end(), usb.buffer + kStatusBytes, usb.buffer + usb.actual_length);
        else if (usb.status == LIBUSB_TRANSFER_TIMED_OUT)
            error = LIBUSB_ERROR_TIMEOUT; // the chip did not answer at all
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        break; // only a flush or the close cancels: what it held goes
    case LIBUSB_TRANSFER_NO_DEVICE:
        error = LIBUSB_ERROR_NO_DEVICE;
        break;
    case LIBUSB_TRANSFER_STALL:
        error = LIBUSB_ERROR_PIPE;
        break;
    case LIBUSB_TRANSFER_OVERFLOW:
        error = LIBUSB_ERROR_OVERFLOW;
        break;
    default:
        error = LIBUSB_ERROR_IO;
        break;
    }
    if (error_ == 0)
        error_ = error;
}

int LibFtdiPort::Queued() const {
    return static_cast<int>(std::count_if(transfers_.begin(), transfers_.end(),
                                          [](const Transfer& t) { return t.queued; }));
}

int LibFtdiPort::QueueIdleTransfers() {
    if (!ftdi_->usb_dev)
        return LIBUSB_ERROR_NO_DEVICE;
    for (Transfer& t : transfers_) {
        if (!t.usb)
            return LIBUSB_ERROR_NO_MEM;
        if (t.queued)
            continue;
        libusb_fill_bulk_transfer(t.usb, ftdi_->usb_dev, static_cast<unsigned char>(ftdi_->out_ep),
                                  t.buffer.data(), static_cast<int>(t.buffer.size()), &Completed,
                                  &t, kTransferTimeoutMs);
        if (const int result = libusb_submit_transfer(t.usb); result < 0)
            return result;
        t.queued = true;
    }
    return 0;
}

int LibFtdiPort::Read(std::uint8_t* buffer, int size) {
    if (const int result = QueueIdleTransfers(); result < 0 && Queued() == 0)
        return result;
    // Transfers that came back while a command ran count as well.
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * kTransferTimeoutMs);
    while (completions_ == 0) {
        timeval wait = Milliseconds(kTransferTimeoutMs);
        if (const int result =
                libusb_handle_events_timeout_completed(ftdi_->usb_ctx, &wait, &completions_);
            result < 0)
            return result;
        if (std::chrono::steady_clock::now() > giveUp)
            return LIBUSB_ERROR_TIMEOUT;
    }
    completions_ = 0;
    const int n = std::min(size, static_cast<int>(inbox_.size()));
    if (n == 0 && error_ != 0)
        return std::exchange(error_, 0);
    std::copy_n(inbox_.begin(), n, buffer);
    inbox_.erase(inbox_.begin(), inbox_.begin() + n);
    // Straight back on the bus while the pump counts.
    QueueIdleTransfers();
    return n;
}

int LibFtdiPort::LineStatus() {
    // Every packet carries the line status: no request of its own needed.
    return std::exchange(lineStatus_, 0);
}

bool LibFtdiPort::CancelAll() {
    for (Transfer& t : transfers_)
        if (t.queued)
            libusb_cancel_transfer(t.usb); // one that is already done comes back anyway
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * kTransferTimeoutMs);
    while (Queued() > 0) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        timeval wait = Milliseconds(100);
        libusb_handle_events_timeout_completed(ftdi_->usb_ctx, &wait, nullptr);
    }
    return true;
}

int LibFtdiPort::FlushReceived() {
    // Whatever is on its way arrived before the flush and goes with it.
    CancelAll();
    const int result = ftdi_tciflush(ftdi_);
    inbox_.clear();
    completions_ = 0;
    error_ = 0;
    return result;
}

ReceivePump::Port::Error LibFtdiPort::Classify(int error) const {
    switch (error) {
    case LIBUSB_ERROR_TIMEOUT:
    case LIBUSB_ERROR_INTERRUPTED:
    case LIBUSB_ERROR_BUSY:
    case LIBUSB_ERROR_OVERFLOW:
        return Error::Transient;
    default:
        return Error::Fatal; // no device, pipe stall, no memory
    }
}

} // namespace korvinet::device
