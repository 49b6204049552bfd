#pragma once

#include "device/receive_pump.h"

#include <cstdint>
#include <libusb.h>
#include <vector>

struct ftdi_context;

namespace korvinet::device {

// One open FTDI device as the receive pump sees it, over a libftdi context
// that the port owns and closes (giving the device back to ftdi_sio).
//
// Reads keep a few one-packet bulk transfers queued on the device. The host
// controller fetches the next packet as soon as one completes, so the pump
// keeps up with a full line, and a read returns as soon as any packet has
// come: a full one, or the short one the chip sends when its latency timer
// runs out. A read therefore lasts at most about one latency period whatever
// the count rate, what a sample counts lags the line by at most about one
// packet, and a command queued behind a read waits no longer than that.
// (libftdi's own ftdi_read_data keeps issuing transfers until its buffer is
// full or one brings nothing, which at high rates takes up to a second.)
class LibFtdiPort final : public ReceivePump::Port {
public:
    static constexpr int kTransfersQueued = 8;
    // Longer than any latency timer (at most 255 ms): the chip always
    // answers within it, with data or a bare status packet.
    static constexpr int kTransferTimeoutMs = 1000;

    explicit LibFtdiPort(ftdi_context* ftdi);
    ~LibFtdiPort() override;
    LibFtdiPort(const LibFtdiPort&) = delete;
    LibFtdiPort& operator=(const LibFtdiPort&) = delete;

    int Read(std::uint8_t* buffer, int size) override;
    int LineStatus() override;
    int FlushReceived() override;
    Error Classify(int error) const override;

private:
    struct Transfer {
        LibFtdiPort* port = nullptr;
        libusb_transfer* usb = nullptr;
        std::vector<unsigned char> buffer;
        bool queued = false;
    };

    static void LIBUSB_CALL Completed(libusb_transfer* transfer);
    void Take(Transfer& transfer);
    int QueueIdleTransfers();
    // Cancels every queued transfer and waits until each has come back;
    // false when the device did not give them back in time.
    bool CancelAll();
    int Queued() const;

    ftdi_context* ftdi_;
    std::vector<Transfer> transfers_;
    std::vector<std::uint8_t> inbox_; // data of completed transfers, not yet read
    int completions_ = 0;             // transfers back since the last read
    int error_ = 0;                   // the first failure since the last read
    int lineStatus_ = 0;              // line status bits of the packets since the last look
};

} // namespace korvinet::device
