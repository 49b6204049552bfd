#include "platform/clock.h"

#include "platform/datetime.h"

#include <QDateTime>
#include <chrono>

namespace korvinet::platform {

std::uint32_t SystemClock::TickCount() const {
    // Milliseconds of a monotonic clock, cut to 32 bits: the same wrapping
    // behaviour as the tick count the sampling code was written against.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    return static_cast<std::uint32_t>(ms);
}

double SystemClock::Now() const {
    return DateTimeFromQt(QDateTime::currentDateTime());
}

Clock::Moment SystemClock::NowWithOffset() const {
    const QDateTime now = QDateTime::currentDateTime();
    return {DateTimeFromQt(now), now.offsetFromUtc()};
}

Clock::Moment ManualClock::NowWithOffset() const {
    return {now_, offset_ ? *offset_ : QtFromDateTime(now_).offsetFromUtc()};
}

} // namespace korvinet::platform
