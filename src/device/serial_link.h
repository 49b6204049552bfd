#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace korvinet::device {

class ReceivePump;

// One serial port (a USB-serial bridge, a pseudo-terminal) driven by Qt
// Serial Port on a thread of its own: the receive pump the libftdi backend
// uses, reading whatever arrives as soon as it arrives. The kinds of serial
// counter each own one: a counter of pulse bytes counts what the pump
// received, a protocol of lines or replies reads the bytes as they come
// (onReceived, on the pump's thread). Nothing here ever waits for the
// counter to say something; the sampler only takes what has arrived.
class SerialLink {
public:
    using Receiver = std::function<void(const std::uint8_t* data, int size)>;

    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens the port at path (8 data bits, no parity, one stop bit, no flow
    // control) and starts reading. False with a one-line reason.
    [[nodiscard]] bool Open(const QString& path, int baud, Receiver onReceived, QString* error);
    // Empties the port's receive buffers and forgets what was received so
    // far. False when the port failed.
    [[nodiscard]] bool Purge();
    // Bytes received and not yet discarded, and the discarding of them.
    std::uint32_t Queued() const;
    void Discard(std::uint32_t count);
    // Sends bytes (a request); false when the port would not take them.
    [[nodiscard]] bool Write(const QByteArray& bytes);
    // The port is gone (unplugged, the other end of a pseudo-terminal
    // closed): nothing more arrives.
    bool Lost() const;
    std::uint64_t Received() const;
    bool IsOpen() const { return pump_ != nullptr; }
    void Close();

private:
    class Port;

    Port* port_ = nullptr; // owned by the pump
    std::unique_ptr<ReceivePump> pump_;
};

} // namespace korvinet::device
