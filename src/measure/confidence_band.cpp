#include "measure/confidence_band.h"

#include "device/counter.h"
#include "measure/poisson.h"

#include <algorithm>

namespace korvinet::measure {

namespace {

// The dead-time factor reaches its cap where r tau / 60 = 1 - 1/cap.
constexpr double kCapLoad = 1.0 - 1.0 / RateConversion::kMaxDeadTimeFactor;

bool Compensates(std::int8_t unitCode) {
    return unitCode != 0;
}

// Compensated CPM into the display unit, in the same steps as TCounter::ConvertRate
// so that a band and a reading of the same rate agree to the last digit.
double ToDisplayUnit(double compensatedCpm, double sensitivity, std::int8_t unitCode) {
    switch (unitCode) {
    case 2:
        return compensatedCpm / sensitivity;
    case 3:
        return 1000 * compensatedCpm / sensitivity;
    case 4:
        return 10 * compensatedCpm / sensitivity;
    default:
        return compensatedCpm;
    }
}

} // namespace

CountWindow CountWindow::FromHistories(const std::uint32_t* counts, const std::uint32_t* elapsedMs,
                                       int historySize, int length) {
    CountWindow w;
    w.length = std::max(length, 0);
    const int n = std::min(w.length, historySize);
    for (int i = 0; i < n; ++i) {
        w.counts += counts[i];
        w.liveMs += elapsedMs[i];
        if (counts[i] != 0 || elapsedMs[i] != 0)
            ++w.samples;
    }
    if (historySize > 0) {
        w.newestCounts = counts[0];
        w.newestMs = elapsedMs[0];
    }
    return w;
}

CountWindow CountWindow::Of(const device::TCounter& counter) {
    return FromHistories(counter.CountHistory().data(), counter.ElapsedHistory().data(),
                         device::TCounter::kHistorySize, counter.AveragingWindow());
}

RateConversion RateConversion::Of(const device::TCounter& counter) {
    return {counter.DeadTime(), counter.Sensitivity(),
            static_cast<std::int8_t>(counter.UnitCode())};
}

RateConversion::Value RateConversion::DeadTimeFactor(double rawCpm) const {
    if (!Compensates(unitCode) || deadTime <= 0)
        return {1.0, false};
    const long double load = (1.0L / 60.0L) * rawCpm * deadTime;
    if (load > kCapLoad)
        return {kMaxDeadTimeFactor, true};
    return {static_cast<double>(1.0L / (1.0L - load)), false};
}

double RateConversion::UnitsPerCpm() const {
    return ToDisplayUnit(1.0, sensitivity, unitCode);
}

RateConversion::Value RateConversion::FromRawCpm(double rawCpm) const {
    const Value factor = DeadTimeFactor(rawCpm);
    double compensated = rawCpm;
    if (factor.capped) {
        compensated = kMaxDeadTimeFactor * rawCpm;
    } else if (Compensates(unitCode)) {
        const long double r = rawCpm;
        compensated = static_cast<double>(r / (1.0L - (1.0L / 60.0L) * r * deadTime));
    }
    return {ToDisplayUnit(compensated, sensitivity, unitCode), factor.capped};
}

double RateConversion::RawCpmAt(double displayValue) const {
    const double c = displayValue / UnitsPerCpm();
    if (!Compensates(unitCode) || deadTime <= 0)
        return c;
    // The capped part of FromRawCpm starts at c tau / 60 = cap * kCapLoad.
    const double load = c * deadTime / 60;
    if (load > kMaxDeadTimeFactor * kCapLoad)
        return c / kMaxDeadTimeFactor;
    return c / (1 + load);
}

CountInterval PoissonInterval(std::uint64_t counts, double confidence) {
    const double tail = (1 - confidence) / 2;
    const double n = static_cast<double>(counts);
    CountInterval interval;
    interval.low = counts == 0 ? 0.0 : InverseRegularizedGammaP(n, tail);
    interval.high = InverseRegularizedGammaP(n + 1, 1 - tail);
    return interval;
}

std::optional<device::RateBand> ConfidenceBand(const CountWindow& window,
                                               const RateConversion& conversion) {
    if (window.liveMs == 0)
        return std::nullopt;
    const CountInterval counts = PoissonInterval(window.counts);
    const double perMinute = 60000.0 / static_cast<double>(window.liveMs);
    return device::RateBand{conversion.FromRawCpm(counts.low * perMinute),
                            conversion.FromRawCpm(counts.high * perMinute)};
}

QString ConfidenceBandLine(const device::RateBand& band, const device::TCounter& counter) {
    auto bound = [&](const RateConversion::Value& v) {
        return (v.capped ? QStringLiteral("\u2265") : QString()) + counter.FormatValue(v.value);
    };
    return QStringLiteral("95 %: ") + bound(band.low) + QStringLiteral(" \u2013 ") +
           bound(band.high) + QLatin1Char(' ') + counter.UnitName();
}

} // namespace korvinet::measure
