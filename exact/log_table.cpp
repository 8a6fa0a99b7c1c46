#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "exact/binary128.hpp"
#include "exact/log_kernel.hpp"

namespace log_kernel {
namespace {

double from_bits(std::int64_t b)
{
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}

// Multiples of 2^-43 below 2^10 have at most 53 bits, so k ln2_hi + T_hi is
// exact for every |k| <= 1024.
double round_to_2m43(double v)
{
    return std::nearbyint(v * 0x1p43) * 0x1p-43;
}

// log(c) = 2 atanh((c - 1)/(c + 1)) in binary128: |z| < 0.2, so 40 terms
// are far more than binary128 holds.
binary128 log128(binary128 c)
{
    const binary128 z = (c - 1) / (c + 1);
    const binary128 z2 = z * z;
    binary128 sum = 0, p = z;
    for (int j = 0; j < 40; ++j) {
        sum += p / (2 * j + 1);
        p *= z2;
    }
    return 2 * sum;
}

binary128 abs128(binary128 v)
{
    return v < 0 ? -v : v;
}

// ln2 = sum 1/(i 2^i); the T_i by series in binary128, independent of any
// library log. Checked against logl before use, along with the cell
// properties the error argument relies on.
Table build_table()
{
    Table t;
    binary128 ln2 = 0, p = 1;
    for (int i = 1; i <= 130; ++i) {
        p /= 2;
        ln2 += p / i;
    }
    t.ln2_hi = round_to_2m43(static_cast<double>(ln2));
    t.ln2_lo = static_cast<double>(ln2 - t.ln2_hi);
    bool ok = std::fabs(static_cast<long double>(t.ln2_hi) + t.ln2_lo - logl(2.0L)) < 0x1p-62L;
    for (int i = 0; i < kSize; ++i) {
        const double a = from_bits(kOffset + (std::int64_t{i} << kShift));
        const double b = from_bits(kOffset + (std::int64_t{i + 1} << kShift));
        const double c =
            i == kCentre ? 1.0 : static_cast<double>(2 / (static_cast<binary128>(a) + b));
        const binary128 T = -log128(c);
        t.c[i] = c;
        t.hi[i] = round_to_2m43(static_cast<double>(T));
        t.lo[i] = static_cast<double>(T - t.hi[i]);
        t.rows[i][0] = t.hi[i];
        t.rows[i][1] = t.lo[i];
        const binary128 ra = abs128(static_cast<binary128>(a) * c - 1);
        const binary128 rb = abs128(static_cast<binary128>(b) * c - 1);
        const binary128 rmax = ra > rb ? ra : rb;
        const long double ref = -logl(static_cast<long double>(c));
        ok = ok && rmax <= kRho &&
             std::fabs(static_cast<long double>(t.hi[i]) + t.lo[i] - ref) <=
                 0x1p-60L * std::fabs(ref) &&
             std::fabs(t.lo[i]) <= 0x1p-44;
        // Off the centre, |u| stays within 1.04 |log m| on the cell, and T_hi
        // outweighs log1p(u): s1 = H + a is a fast two-sum.
        if (i != kCentre) {
            const binary128 la = abs128(log128(a)), lb = abs128(log128(b));
            const binary128 lmin = la < lb ? la : lb;
            ok = ok && abs128(t.hi[i]) >= rmax && rmax <= lmin * 1.04 && lmin >= 0x1p-6;
        }
    }
    t.ok = ok && t.c[kCentre] == 1.0 && t.hi[kCentre] == 0.0 && t.lo[kCentre] == 0.0 &&
           from_bits(kOffset + (std::int64_t{2 * kCentre + 1} << (kShift - 1))) == 1.0;
    return t;
}

}  // namespace

const Table& table()
{
    static const Table t = build_table();
    return t;
}

}  // namespace log_kernel
