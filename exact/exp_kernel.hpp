#pragma once

// exp, bit for bit std::exp's, written once as templates over a level's
// primitives S (simd/<level>.hpp) and instantiated per level in
// exact/kernels_<level>.cpp. Include inside the level's target region,
// after <cmath>, <cstddef>, <cstdint> and <cstring>. The table is built
// and checked once, by plain code, in exact/exp_table.cpp.

#include "exact/batch_kernel.hpp"

// exp(x) = 2^m * 2^(j/16) * exp(r), k = 16 m + j = round(x * 16/ln2),
// r = x - (k/16) ln2, |r| <= ln2/32 (plus a hair from rounding k). A table
// of 16 entries is one permute per lookup on AVX-512 (gathers are slow on
// CPUs with the gather-sampling mitigation); 32 entries would take two
// permutes and a blend to save one polynomial term.
//
// Error of the double-double s + t against exp(x) / 2^m, relative, per lane
// (|r| <= 0.02167, Q = exp(r) - 1 - r <= 2.37e-4):
//   r as rh + rl, from ln2 in two doubles:              < 2^-80
//   exp(r) - 1 by its degree-8 Taylor polynomial:       < 2^-68
//   table 2^(j/16) as hi + lo (from binary128):         < 2^-105
//   six roundings or neglects at the scale of Q, each
//   below 2^-53 Q / exp(r) < 2^-65: rh^2, the last
//   Horner step, q, th q + .., e1 + lo, and Tl Q:       < 6 * 2^-65
//   the rest (inner Horner steps, coefficients, e1,
//   u, u (1 + rh), Th rl Q):                            < 2^-69
// so below 2^-62.3, i.e. 0.0017 of an ulp of s. The C library's exp is
// within 0.511 ulp (measured maximum 0.5068 over 40 million inputs), so it
// returns the nearest double whenever the true value is more than 0.011 ulp
// from a midpoint. A lane is accepted when fl(s + K t) == s with
// K = 1 + 7/256, i.e. |t| <= ulp(s) / (2K) = (128/263) ulp(s) < 0.48670 ulp:
// the true value is then more than 0.5 - 0.48670 - 0.0017 > 0.0116 ulp from
// the midpoint. Results that are powers of two (s == 1, where the ulp below
// is half the one above) are left to the library, except exp(+-0) = 1.
// Every step is one rounded operation or an exact FMA on every level, so
// all levels compute the same s and t.
namespace exp_kernel {

constexpr int kBits = 4;
constexpr int kSize = 1 << kBits;
constexpr double kInvLn2 = 0x1.71547652b82fep+0;  // 1/ln2, only to choose k
constexpr double kShift = 0x1.8p48;  // x/ln2 + kShift: ulp 2^-4, k in the low bits
constexpr double kLimit = 700.0;     // keeps 2^m and the result normal, |k| < 2^14
constexpr double kAcceptScale = 1.0 + 7.0 / 256;  // K above
constexpr double kC[] = {1.0 / 2,   1.0 / 6,    1.0 / 24,   1.0 / 120,
                         1.0 / 720, 1.0 / 5040, 1.0 / 40320};
constexpr int kTerms = sizeof kC / sizeof kC[0];

struct Table {
    alignas(64) double hi[kSize];  // 2^(j/16) = hi + lo
    alignas(64) double lo[kSize];
    alignas(64) double rows[kSize][2];  // {hi[j], lo[j]}: one load per lane on AVX2
    double ln2_hi = 0, ln2_lo = 0;  // ln2_hi with 39 significant bits
    bool ok = false;                // passed its check; else every lane goes to the library
};

// Built and checked on first use (exact/exp_table.cpp).
const Table& table();

// The evaluation of one vector, with the table in the level's registers.
template <class S>
struct Lanes {
    using V = typename S::V;
    typename S::Table16x2 tables;
    V ln2_hi, ln2_lo;

    explicit Lanes(const Table& t)
        : tables(S::table16x2(t.hi, t.lo, t.rows)), ln2_hi(S::set1(t.ln2_hi)),
          ln2_lo(S::set1(t.ln2_lo))
    {
    }

    // exp(x) in the lanes set in `accepted`, which hold std::exp's value;
    // x in the others. Inlined into the batch loop: called out of line, it
    // re-materialised its constants and returned the mask through memory on
    // every vector. BelowLimit: the caller capped x at kLimit or below (NaN
    // included), so only the lower end of the range needs a compare.
    template <bool BelowLimit = false>
    __attribute__((always_inline)) V operator()(V x, typename S::Mask& accepted) const
    {
        // kq = k/16 exactly; j = k mod 16 is in the low four bits of kt.
        const V shift = S::set1(kShift);
        const V kt = S::fma(x, S::set1(kInvLn2), shift);
        const V kq = S::sub(kt, shift);
        const typename S::Index j = S::template index16<0>(S::as_bits(kt));

        // r = x - kq ln2 as rh + rl. kq ln2_hi is exact and so is
        // s0 = x - kq ln2_hi (Sterbenz for |k| >= 2, a 53-bit difference for
        // |k| = 1). s0 - rh is exact too unless |s0| < 2^-27, where its
        // rounding is below 2^-81.
        const V s0 = S::fnma(kq, ln2_hi, x);
        const V rh = S::fnma(kq, ln2_lo, s0);
        const V rl = S::fnma(kq, ln2_lo, S::sub(s0, rh));

        // exp(r) - 1 = rh + q + rl (1 + rh), q = rh^2 (1/2 + rh/6 + ... + rh^6/8!).
        V h = S::set1(kC[kTerms - 1]);
        for (int i = kTerms - 2; i >= 0; --i)
            h = S::fma(rh, h, S::set1(kC[i]));
        const V q = S::mul(S::mul(rh, rh), h);

        // T exp(r) = (Th + Th rh) + [Th q + u (1 + rh)], u = Tl + Th rl.
        // s1 = fl(Th + Th rh) and its error e1 by FMA: Th - s1 is exact
        // (Sterbenz), so e1 is the error rounded once.
        V th, tl;
        S::lookup2(tables, j, th, tl);
        const V u = S::fma(th, rl, tl);
        const V lo = S::fma(th, q, S::fma(u, rh, u));
        const V s1 = S::fma(th, rh, th);
        const V e1 = S::fma(th, rh, S::sub(th, s1));
        const V t0 = S::add(e1, lo);
        const V s = S::add(s1, t0);
        const V t = S::sub(t0, S::sub(s, s1));

        // fl(s + K t) == s exactly when |t| <= ulp(s) / 2K, s no power of
        // two: one FMA and a compare instead of building ulp(s). s lies in
        // (2^(-1/32) - 2^-40, 2^(31/32) + 2^-40), so the only power of two
        // it can be is 1. exp(+-0) is exactly 1 (s = 1, t = 0): common in
        // callers, and never worth the library.
        const V nudged = S::fma(t, S::set1(kAcceptScale), s);
        typename S::Mask near = S::eq(nudged, s);
        if constexpr (BelowLimit)
            near = S::and_(near, S::at_least(x, -kLimit));
        else
            near = S::and_(near, S::within(x, -kLimit, kLimit));
        accepted = S::and_(near, S::or_(S::ne(s, S::set1(1.0)), S::eq(x, S::set1(0.0))));
        return S::select(accepted, S::scalef(s, kq), x);  // s 2^floor(kq) = s 2^m
    }
};

// exp of x, or of x capped: exp(x < cap ? x : cap), NaN taking the cap.
// min(x, cap) is exactly that ternary. A cap above kLimit (none of the
// callers', whose is 500) takes the library for every value: the vector
// path of a capped batch checks only the lower end of the range.
template <class S, bool Capped>
void run(const double* x, double* y, std::size_t count, double cap)
{
    const Table& t = table();
    if (!t.ok || (Capped && !(cap <= kLimit))) {
        for (std::size_t i = 0; i < count; ++i)
            y[i] = std::exp(Capped && !(x[i] < cap) ? cap : x[i]);
        return;
    }
    const Lanes<S> lanes(t);
    const typename S::V vcap = S::set1(cap);
    batch_kernel::evaluate<S>(
        x, y, count,
        [&](typename S::V v, typename S::Mask& ok) __attribute__((always_inline)) {
            return lanes.template operator()<Capped>(Capped ? S::min(v, vcap) : v, ok);
        },
        [](double v) { return std::exp(v); });
}

template <class S>
void exp_batch(const double* x, double* y, std::size_t count)
{
    run<S, false>(x, y, count, 0.0);
}

template <class S>
void exp_batch_capped(const double* x, double* y, std::size_t count, double cap)
{
    run<S, true>(x, y, count, cap);
}

}  // namespace exp_kernel
