#pragma once

#include <cstdint>

namespace korvinet {

// The two sources of "now" that the program reads: the millisecond tick count
// (unsigned 32-bit, wraps after about 49.7 days) and the local date-time as a
// date-time double. Everything that asks for the time takes a Clock, so tests
// can place both anywhere (just before a wrap, at midnight) without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t TickCount() const = 0;
    // Local date-time: days since 30 December 1899, fraction = time of day.
    virtual double Now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t TickCount() const override;
    double Now() const override;
};

// A clock that only moves when told to. Advance() moves both readings together,
// the way real time would.
class ManualClock final : public Clock {
public:
    ManualClock(std::uint32_t tick = 0, double now = 0.0) : tick_(tick), now_(now) {}

    std::uint32_t TickCount() const override { return tick_; }
    double Now() const override { return now_; }

    void SetTickCount(std::uint32_t tick) { tick_ = tick; }
    void SetNow(double now) { now_ = now; }
    void Advance(std::uint32_t ms) {
        tick_ += ms; // wraps like the real tick count
        now_ += ms / 86400000.0;
    }

private:
    std::uint32_t tick_;
    double now_;
};

} // namespace korvinet
