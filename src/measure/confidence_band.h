#pragma once

#include "device/reading.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace korvinet::device {
class TCounter;
} // namespace korvinet::device

namespace korvinet::measure {

// The raw counts of the averaging window and the time they took: the newest
// entries of the counter's sample histories, as many as the averaging window
// holds. Also the newest sample alone, for rules that work sample by sample.
struct CountWindow {
    std::uint64_t counts = 0;
    std::uint64_t liveMs = 0;       // the samples' own milliseconds, not the nominal window
    int samples = 0;                // samples taken so far within the window
    int length = 0;                 // samples in a full window
    std::uint32_t newestCounts = 0; // the newest sample
    std::uint32_t newestMs = 0;

    bool Full() const { return length > 0 && samples >= length; }

    // From histories ordered newest first; an entry with neither counts nor
    // milliseconds has not been taken yet (the histories start out zeroed).
    static CountWindow FromHistories(const std::uint32_t* counts, const std::uint32_t* elapsedMs,
                                     int historySize, int length);
    // The counter's window after its latest ReadCounts.
    static CountWindow Of(const device::TCounter& counter);
};

// How a raw count rate becomes a value in a display unit, the same steps as
// TCounter::ConvertRate: non-paralysable dead-time compensation (except for
// "CPM (uncomp)"), then division by the sensitivity for the dose-rate units.
// The compensation 1 / (1 - r tau) grows without bound as the rate nears
// 1/tau; it is capped at kMaxDeadTimeFactor and such a value is marked, so a
// bound near saturation reads "at least" rather than an invented figure.
struct RateConversion {
    static constexpr double kMaxDeadTimeFactor = 10.0;

    double deadTime = 0.0;    // seconds
    double sensitivity = 1.0; // CPM per mR/hr
    std::int8_t unitCode = 1; // as TCounter::UnitCode

    // capped: the dead-time factor reached its cap, the true value is higher.
    using Value = device::BoundedValue;

    // The connected counter's; a closed counter has no sensitivity, and the
    // dose-rate units then have no conversion.
    static RateConversion Of(const device::TCounter& counter);

    // Dead-time factor for a raw rate in CPM, capped.
    Value DeadTimeFactor(double rawCpm) const;
    // Display units per compensated CPM.
    double UnitsPerCpm() const;
    Value FromRawCpm(double rawCpm) const;
    // The raw rate the tube shows when the true rate is displayValue: the
    // inverse of FromRawCpm, m = L / (1 + L tau) below the cap.
    double RawCpmAt(double displayValue) const;
};

// The exact (Garwood) central interval for the mean of a Poisson count:
// low = P^-1(N, (1 - c)/2), high = P^-1(N + 1, (1 + c)/2), low = 0 for N = 0.
// Each tail holds at most (1 - c)/2 whatever the mean, so the interval covers
// the true mean at least with probability c.
struct CountInterval {
    double low = 0.0;
    double high = 0.0;
};
CountInterval PoissonInterval(std::uint64_t counts, double confidence = 0.95);

// The 95 % band of the window's rate in the display unit of conversion;
// none while the window holds no time yet.
std::optional<device::RateBand> ConfidenceBand(const CountWindow& window,
                                               const RateConversion& conversion);

// The statistics line "95 %: low – high unit", the values formatted like the
// counter's readings and a capped bound prefixed with "≥".
QString ConfidenceBandLine(const device::RateBand& band, const device::TCounter& counter);

} // namespace korvinet::measure
