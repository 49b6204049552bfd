#pragma once

namespace korvinet::measure {

// The regularised incomplete gamma functions and the inverse of the lower
// one. They are what exact Poisson statistics on counts need: for a count X of
// mean m, Pr(X >= n) = P(n, m) and Pr(X < n) = Q(n, m). Accurate to about
// 1e-12 relative from a near 0 up to 1e8; the work grows with the square root
// of a near x = a, a few thousand steps at a = 1e7.

// P(a, x), lower regularised gamma; a >= 0, x >= 0. P(0, x) = 1.
double RegularizedGammaP(double a, double x);
// Q(a, x) = 1 - P(a, x), computed so the upper tail keeps its relative accuracy.
double RegularizedGammaQ(double a, double x);
// The x >= 0 with P(a, x) = p, for a > 0 and 0 <= p < 1 (p = 0 gives 0).
double InverseRegularizedGammaP(double a, double p);

} // namespace korvinet::measure
