#include "device/serial_exchange.h"

#include "platform/clock.h"
#include "platform/datetime.h"

#include <algorithm>
#include <cmath>

namespace korvinet::device {

namespace {

// How often a wait looks whether the port is gone: the link says so, it does
// not wake anyone.
constexpr auto kLostPoll = std::chrono::milliseconds(20);

} // namespace

std::int64_t ComputerUtcMs(const platform::Clock& clock) {
    // Date-time doubles count local days from 1899-12-30; 1970-01-01 is day 25569.
    const platform::Clock::Moment now = clock.NowWithOffset();
    return std::llround((now.local - 25569.0) * platform::kMsPerDay) -
           static_cast<std::int64_t>(now.utcOffsetSeconds) * 1000;
}

bool SerialExchange::Open(const QString& path, int baud, Stream stream, QString* error) {
    stream_ = std::move(stream);
    return link_.Open(
        path, baud, [this](const std::uint8_t* data, int size) { OnReceived(data, size); }, error);
}

void SerialExchange::OnReceived(const std::uint8_t* data, int size) {
    {
        std::lock_guard lock(mutex_);
        if (asking_) {
            buffer_.append(reinterpret_cast<const char*>(data), size);
            lastArrival_ = Steady::now();
            arrived_.notify_all();
            return;
        }
    }
    if (stream_)
        stream_(reinterpret_cast<const char*>(data), size);
}

SerialExchange::Answer
SerialExchange::Wait(QByteArrayView request,
                     const std::function<qsizetype(Steady::time_point)>& whole, int idleMs,
                     QByteArray* reply) {
    {
        std::lock_guard lock(mutex_);
        buffer_.clear();
        asking_ = true;
        lastArrival_ = Steady::now();
    }
    const auto done = [this](Answer answer) {
        std::lock_guard lock(mutex_);
        asking_ = false;
        return answer;
    };
    if (!request.isEmpty() && !link_.Write(request.toByteArray()))
        return done(link_.Lost() ? Answer::Lost : Answer::Silent);
    const auto idle = std::chrono::milliseconds(idleMs);
    std::unique_lock lock(mutex_);
    for (;;) {
        const Steady::time_point now = Steady::now();
        if (const qsizetype length = whole(now); length > 0) {
            *reply = buffer_.first(length);
            buffer_.remove(0, length);
            asking_ = false;
            return Answer::Replied;
        }
        if (link_.Lost()) {
            asking_ = false;
            return Answer::Lost;
        }
        if (now - lastArrival_ >= idle) {
            *reply = buffer_;
            asking_ = false;
            return Answer::Silent;
        }
        arrived_.wait_until(lock, std::min(lastArrival_ + idle, now + kLostPoll));
    }
}

SerialExchange::Answer SerialExchange::Ask(QByteArrayView request, const Whole& whole, int idleMs,
                                           QByteArray* reply) {
    return Wait(
        request, [&](Steady::time_point) { return whole(QByteArrayView(buffer_)); }, idleMs, reply);
}

SerialExchange::Answer SerialExchange::AskUntilQuiet(QByteArrayView request, qsizetype minBytes,
                                                     int quietMs, int idleMs, QByteArray* reply) {
    const auto quiet = std::chrono::milliseconds(quietMs);
    return Wait(
        request,
        [&](Steady::time_point now) -> qsizetype {
            return buffer_.size() >= minBytes && now - lastArrival_ >= quiet ? buffer_.size() : 0;
        },
        std::max(idleMs, quietMs + 1), reply);
}

bool SerialExchange::Send(QByteArrayView bytes) {
    return link_.Write(bytes.toByteArray());
}

bool SerialExchange::Settle(int ms) {
    QByteArray ignored;
    // Asked of nobody: whatever arrives meanwhile is gathered and dropped.
    return Wait(
               {}, [](Steady::time_point) { return qsizetype(0); }, ms, &ignored) == Answer::Silent;
}

qsizetype SerialExchange::LineLength(QByteArrayView received) {
    const qsizetype end = received.indexOf('\n');
    return end < 0 ? 0 : end + 1;
}

QByteArrayView SerialExchange::Line(QByteArrayView reply) {
    while (!reply.isEmpty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.chop(1);
    return reply;
}

} // namespace korvinet::device
