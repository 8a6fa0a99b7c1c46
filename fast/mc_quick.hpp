#pragma once

#include <cmath>

// In a screen the usual MC outcome is a pair pruned by the threshold, whose
// line shows only log10 of the p-value to six decimals. That text is settled
// long before the last bits of the tail are: given an estimate T of the
// statistic with error at most errT, the 10-df tail Q = exp(-x) S(x) with
// x = T/2 and S(x) = 1 + x + x^2/2 + x^3/6 + x^4/24 gives log10 Q to within a
// small bound. When every value inside the bounds prints the same six
// decimals and lies on the pruned side of the threshold, the line is known
// without the exact tail. Every other case goes to the exact evaluation, so
// the estimate never decides a result it could get wrong.

struct QuickThreshold {
    bool mayPass = false;        // some p-value could fall below the threshold
    double log10Threshold = 0.0;
};

inline QuickThreshold quick_threshold(double threshold)
{
    QuickThreshold q;
    q.mayPass = threshold > 0;  // false for NaN too: nothing passes then
    if (q.mayPass)
        q.log10Threshold = std::log10(threshold);
    return q;
}

// S(x) of the tail above; all terms positive, so a few ulp at most.
inline double tail10_sum(double x)
{
    return 1.0 + x * (1.0 + x * (0.5 + x * (1.0 / 6.0 + x * (1.0 / 24.0))));
}

// Bound on the error of a statistic summed from four logarithm terms, each
// within a few ulp of the exact evaluation, in the same order, as a
// multiple of the terms' summed magnitudes: 64 ulp covers the logarithms (up
// to 8 ulp each), the products and the three subtractions with a wide margin.
constexpr double kStatisticRelativeError = 64 * 0x1p-52;

// True when certain: the pair is pruned (p not below the threshold) and
// micro = round(log10(p) * 1e6), the six-decimal value "%f" prints. logSum is
// ln S(T/2), within a few ulp.
inline bool quick_pruned_micro(double T, double errT, double logSum, const QuickThreshold& thr,
                               long long& micro)
{
    // Away from the sentinels (T <= 0, T > 9999.9), from p so close to 1 that
    // it may round to 1, and from tails that underflow to subnormals, where
    // the printed value depends on the last bits.
    if (!(T > 1e-3 && T < 1400.0))
        return false;
    const double x = T * 0.5;
    const double v = (logSum - x) * (1.0 / 2.302585092994045684);
    // |d log10 Q / dT| < 1/(2 ln 10) < 0.25; the rest covers the estimate's
    // own rounding (a few ulp of x and ln S) and the exact path's (the tail's
    // last-bit error, log10's ulp).
    const double errV = 0.25 * errT + 4e-15 * (x + 30.0) + 1e-13;
    if (!(v < -1e-5))
        return false;
    if (thr.mayPass &&
        !(v > thr.log10Threshold + errV + 1e-12 + 1e-15 * std::fabs(thr.log10Threshold)))
        return false;
    const double w = v * 1e6;
    const double lower = std::floor(w);
    const double frac = w - lower;
    if (!(std::fabs(frac - 0.5) > errV * 1e6 + 1e-4))
        return false;
    micro = static_cast<long long>(lower) + (frac > 0.5 ? 1 : 0);
    return true;
}
