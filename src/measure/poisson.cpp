#include "measure/poisson.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvinet::measure {

namespace {

constexpr double kLnSqrt2Pi = 0.918938533204672741780329736406; // ln sqrt(2 pi)
constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kTiny = 1e-300;
constexpr int kMaxSteps = 10'000'000;

// lgamma(a + 1) - ((a + 0.5) ln a - a + ln sqrt(2 pi)): the error of
// Stirling's formula, small and smooth, so it can be subtracted without the
// cancellation that writing out lgamma(a + 1) costs for large a.
double StirlingError(double a) {
    if (a < 10)
        return std::lgamma(a + 1) - (a + 0.5) * std::log(a) + a - kLnSqrt2Pi;
    const double r = 1 / a;
    const double r2 = r * r;
    return r * (1.0 / 12 - r2 * (1.0 / 360 - r2 * (1.0 / 1260 - r2 * (1.0 / 1680 - r2 / 1188))));
}

// a ln(a / x) + x - a, without cancellation when x is near a.
double DevianceTerm(double a, double x) {
    if (std::abs(a - x) < 0.1 * (a + x)) {
        const double v = (a - x) / (a + x);
        double sum = (a - x) * v;
        double term = 2 * a * v;
        const double v2 = v * v;
        for (int j = 1; j < 1000; ++j) {
            term *= v2;
            const double next = sum + term / (2 * j + 1);
            if (next == sum)
                break;
            sum = next;
        }
        return sum;
    }
    return a * std::log(a / x) + x - a;
}

// x^a e^-x / Gamma(a + 1): the Poisson probability of a at mean x.
double PoissonTerm(double a, double x) {
    if (x <= 0)
        return a == 0 ? 1.0 : 0.0;
    if (a < 10)
        return std::exp(a * std::log(x) - x - std::lgamma(a + 1));
    return std::exp(-StirlingError(a) - DevianceTerm(a, x)) / std::sqrt(kTwoPi * a);
}

// P(a, x) by its power series; converges fast for x < a + 1.
double LowerSeries(double a, double x) {
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n < kMaxSteps; ++n) {
        term *= x / (a + n);
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return PoissonTerm(a, x) * sum;
}

// Q(a, x) by its continued fraction (modified Lentz); converges for x > a + 1.
double UpperFraction(double a, double x) {
    double b = x + 1 - a;
    double c = 1 / kTiny;
    double d = 1 / b;
    double h = d;
    for (int i = 1; i < kMaxSteps; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::abs(d) < kTiny)
            d = kTiny;
        c = b + an / c;
        if (std::abs(c) < kTiny)
            c = kTiny;
        d = 1 / d;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1) < 1e-16)
            break;
    }
    // x^a e^-x / Gamma(a) = a * PoissonTerm(a, x)
    return a * PoissonTerm(a, x) * h;
}

// The standard normal quantile, to about 1e-9: a starting point only.
double NormalQuantile(double p) {
    static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,
                                   -2.759285104469687e+02, 1.383577518672690e+02,
                                   -3.066479806614716e+01, 2.506628277459239e+00};
    static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02,
                                   -1.556989798598866e+02, 6.680131188771972e+01,
                                   -1.328068155288572e+01};
    static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01,
                                   -2.400758277161838e+00, -2.549732539343734e+00,
                                   4.374664141464968e+00,  2.938163982698783e+00};
    static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01,
                                   2.445134137142996e+00, 3.754408661907416e+00};
    const double low = 0.02425;
    if (p < low || p > 1 - low) {
        const double q = std::sqrt(-2 * std::log(p < low ? p : 1 - p));
        const double z = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
                         ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
        return p < low ? z : -z;
    }
    const double q = p - 0.5;
    const double r = q * q;
    return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
           (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}

double StartingPoint(double a, double p) {
    if (a > 1) {
        // Wilson-Hilferty: the cube root of a gamma variate is nearly normal.
        const double z = NormalQuantile(p);
        const double s = 1 / (9 * a);
        const double w = 1 - s + z * std::sqrt(s);
        if (w > 0.05)
            return a * w * w * w;
    }
    // Small a or far lower tail: P(a, x) ~ x^a / Gamma(a + 1).
    const double x = std::exp((std::log(p) + std::lgamma(a + 1)) / a);
    return std::isfinite(x) && x > 0 ? std::min(x, a + 1) : a;
}

} // namespace

double RegularizedGammaP(double a, double x) {
    if (!(x > 0))
        return a == 0 ? 1.0 : 0.0;
    if (a == 0)
        return 1.0;
    if (x < a + 1)
        return LowerSeries(a, x);
    return 1 - UpperFraction(a, x);
}

double RegularizedGammaQ(double a, double x) {
    if (!(x > 0) || a == 0)
        return a == 0 ? 0.0 : 1.0;
    if (x < a + 1)
        return 1 - LowerSeries(a, x);
    return UpperFraction(a, x);
}

double InverseRegularizedGammaP(double a, double p) {
    if (!(p > 0))
        return 0.0;
    if (!(p < 1))
        return std::numeric_limits<double>::infinity();
    // Solve on the smaller tail, where the function keeps its relative accuracy:
    // f(x) = P(a, x) - p, or f(x) = (1 - p) - Q(a, x); both increase with x.
    const bool upper = p > 0.5;
    const double q = 1 - p;
    auto f = [&](double x) {
        return upper ? q - RegularizedGammaQ(a, x) : RegularizedGammaP(a, x) - p;
    };
    double lo = 0.0;
    double hi = std::numeric_limits<double>::infinity();
    double x = StartingPoint(a, p);
    for (int i = 0; i < 100; ++i) {
        const double fx = f(x);
        if (fx == 0)
            return x;
        (fx < 0 ? lo : hi) = x;
        // Halley's step on f, using f' = x^(a-1) e^-x / Gamma(a) and
        // f''/f' = (a - 1)/x - 1.
        const double slope = a * PoissonTerm(a, x) / x;
        if (slope > 0 && std::isfinite(slope)) {
            const double newton = fx / slope;
            const double bend = 1 - 0.5 * newton * ((a - 1) / x - 1);
            const double next = x - (bend > 0.5 && bend < 2 ? newton / bend : newton);
            if (next > lo && next < hi) {
                if (std::abs(next - x) <= 1e-14 * x)
                    return next;
                x = next;
                continue;
            }
        }
        // The step left the bracket: halve it (or widen it while it is open).
        if (std::isfinite(hi) && hi - lo <= 1e-14 * hi)
            return 0.5 * (lo + hi);
        x = std::isfinite(hi) ? 0.5 * (lo + hi) : 2 * x + 1;
    }
    return x;
}

} // namespace korvinet::measure
