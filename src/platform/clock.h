#pragma once

#include <cstdint>
#include <optional>

namespace korvinet::platform {

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
    // The local date-time with the offset from UTC then in force, read
    // together: in the hour the clocks go back the local time alone names
    // two moments, and a record of when something happened needs the one.
    struct Moment {
        double local = 0.0;
        int utcOffsetSeconds = 0;
    };
    virtual Moment NowWithOffset() const = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t TickCount() const override;
    double Now() const override;
    Moment NowWithOffset() const override;
};

// A clock that only moves when told to. Advance() moves both readings together,
// the way real time would.
class ManualClock final : public Clock {
public:
    ManualClock(std::uint32_t tick = 0, double now = 0.0) : tick_(tick), now_(now) {}

    std::uint32_t TickCount() const override { return tick_; }
    double Now() const override { return now_; }
    // The offset set, or else the system's rule for the local time.
    Moment NowWithOffset() const override;

    void SetTickCount(std::uint32_t tick) { tick_ = tick; }
    void SetNow(double now) { now_ = now; }
    void SetUtcOffset(std::optional<int> seconds) { offset_ = seconds; }
    void Advance(std::uint32_t ms) {
        tick_ += ms; // wraps like the real tick count
        now_ += ms / 86400000.0;
    }

private:
    std::uint32_t tick_;
    double now_;
    std::optional<int> offset_;
};

} // namespace korvinet::platform
