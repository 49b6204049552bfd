#pragma once

#include "device/serial_link.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace korvinet::platform {
class Clock;
} // namespace korvinet::platform

namespace korvinet::device {

// The computer's time in milliseconds since 1970-01-01 UTC, which a counter
// that keeps a clock of its own is compared with.
std::int64_t ComputerUtcMs(const platform::Clock& clock);

// Requests and their replies over a serial link, for the kinds of counter
// that answer questions. What arrives while a request waits is its reply;
// what arrives at other times (a counter that also talks of its own accord)
// goes to the stream receiver, on the link's thread. Requests are asked from
// one thread at a time; a reply is waited for with a bound, never for good.
class SerialExchange {
public:
    using Stream = std::function<void(const char* data, int size)>;
    // The length of the whole reply at the front of what arrived, or 0 while
    // it is not whole yet.
    using Whole = std::function<qsizetype(QByteArrayView received)>;

    enum class Answer {
        Replied,
        Silent, // nothing more arrived for the time allowed
        Lost,   // the port is gone
    };

    // Opens the port (8N1, no flow control); false with a one-line reason.
    [[nodiscard]] bool Open(const QString& path, int baud, Stream stream, QString* error);
    // Sends request, after forgetting whatever arrived before it, and waits
    // until whole finds the reply whole. The wait ends Silent when nothing
    // arrives for idleMs (a long reply may take long as long as it flows).
    Answer Ask(QByteArrayView request, const Whole& whole, int idleMs, QByteArray* reply);
    // The same for a reply of no known length: it is whole once at least
    // minBytes arrived and then nothing for quietMs.
    Answer AskUntilQuiet(QByteArrayView request, qsizetype minBytes, int quietMs, int idleMs,
                         QByteArray* reply);
    // Sends bytes that have no reply.
    [[nodiscard]] bool Send(QByteArrayView bytes);
    // Waits ms for what may still be on its way, then forgets what arrived.
    [[nodiscard]] bool Settle(int ms);

    bool Lost() const { return link_.Lost(); }
    std::uint64_t Received() const { return link_.Received(); }
    bool IsOpen() const { return link_.IsOpen(); }
    void Close() { link_.Close(); }

    // A line reply, "\r\n" or "\n" at its end: its length with the end.
    static qsizetype LineLength(QByteArrayView received);
    // The line without its end (and without a stray "\r" before it).
    static QByteArrayView Line(QByteArrayView reply);

private:
    using Steady = std::chrono::steady_clock;

    void OnReceived(const std::uint8_t* data, int size);
    Answer Wait(QByteArrayView request, const std::function<qsizetype(Steady::time_point)>& whole,
                int idleMs, QByteArray* reply);

    SerialLink link_;
    Stream stream_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    bool asking_ = false;
    QByteArray buffer_;
    Steady::time_point lastArrival_;
};

} // namespace korvinet::device
