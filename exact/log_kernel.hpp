#pragma once

// log, bit for bit std::log's, written once as templates over a level's
// primitives S (simd/<level>.hpp) and instantiated per level in
// exact/kernels_<level>.cpp. Include inside the level's target region,
// after <cmath>, <cstddef>, <cstdint> and <cstring>. The tables are built
// and checked once, by plain code, in exact/log_table.cpp.

#include "exact/batch_kernel.hpp"

// log(x) = k ln2 + T_i + log1p(r): x = 2^k m with m in [m0, 2 m0), m0 =
// 0.703125, cut into 16 cells by the top four bits of m's offset from m0;
// c_i is about 1/m on cell i, T_i = -log(c_i), and r = m c_i - 1 exactly as
// the double-double u + rl (u = fl(m c_i) - 1 is exact by Sterbenz, rl the
// product's error by FMA). 1.0 lies in the middle of cell 9, whose c is 1:
// there u = m - 1 and rl = 0, so tiny results keep their relative accuracy.
// |u| <= 2^-5 everywhere; off cell 9 with k = 0, |u| <= 1.04 |log x| and
// |log x| >= 2^-6; with k != 0, |log x| > 0.3. A table of 16 entries is one
// register permute on AVX-512: on CPUs where gathers are slow, permutes are
// not.
//
// Error of the double-double s + t against log(x), relative, per lane:
//   log1p(u) by its Taylor polynomial of degree 13:      < 2^-68
//   rounding of u^3 Q(u) (coefficients, Horner, cube):   < 2^-62.5
//   rl through rl (1 - u + u^2), truncated:              < 2^-63
//   the roundings summing the small terms:               < 2^-62.9
//   T_i as hi + lo, k ln2 as hi + lo (from binary128):   < 2^-78
// (|u| <= 1.04 |log x| turns terms relative to u into terms relative to the
// result) so below 2^-61, i.e. 2^-8 of an ulp of the result. The C
// library's log is within 0.53 ulp (documented about 0.52, measured maximum
// 0.5184 over 350 million inputs), so it returns the nearest double whenever
// the true value is more than 0.03 ulp from a midpoint. A lane is accepted
// when s + t C rounds to s, C = 512/477: then |t| <= (477/1024) ulp, on the
// side of s that t points to (so results that are powers of two need no
// special case), and the true value is more than 0.0342 - 2^-8 > 0.03 ulp
// from the midpoint. Every step is one rounded operation or an exact FMA on
// every level, so all levels compute the same s and t.
namespace log_kernel {

constexpr int kBits = 4;
constexpr int kSize = 1 << kBits;
constexpr int kShift = 52 - kBits;
constexpr std::int64_t kOffset = 0x3fe6800000000000;  // m0: puts 1.0 mid-cell
constexpr int kCentre = 9;                             // the cell of 1.0
constexpr std::int64_t kHigh = ~((std::int64_t{1} << 52) - 1);
constexpr double kMinNormal = 0x1p-1022;
constexpr double kMaxFinite = 0x1.fffffffffffffp+1023;
constexpr double kAcceptScale = 512.0 / 477;  // C: accepts |t| up to 477/1024 ulp
constexpr double kRho = 0x1p-5;               // bound on |r|
// 1/3, -1/4, ..., 1/13: log1p(u) = u - u^2/2 + u^3 Q(u).
constexpr double kC[] = {1.0 / 3,  -1.0 / 4, 1.0 / 5,   -1.0 / 6, 1.0 / 7,   -1.0 / 8,
                         1.0 / 9, -1.0 / 10, 1.0 / 11, -1.0 / 12, 1.0 / 13};
constexpr int kTerms = sizeof kC / sizeof kC[0];

struct Table {
    alignas(64) double c[kSize];
    alignas(64) double hi[kSize];  // T_i rounded to a multiple of 2^-43
    alignas(64) double lo[kSize];
    alignas(64) double rows[kSize][2];  // {hi[i], lo[i]}: one load per lane on AVX2
    double ln2_hi = 0, ln2_lo = 0;  // ln2_hi a multiple of 2^-43
    bool ok = false;                // passed its checks; else every lane goes to the library
};

// Built and checked on first use (exact/log_table.cpp).
const Table& table();

// The evaluation of one vector, with the tables in the level's registers.
template <class S>
struct Lanes {
    using V = typename S::V;
    using I = typename S::I;
    typename S::Table16x3 tables;
    V ln2_hi, ln2_lo;

    explicit Lanes(const Table& t)
        : tables(S::table16x3(t.c, t.hi, t.lo, t.rows)), ln2_hi(S::set1(t.ln2_hi)),
          ln2_lo(S::set1(t.ln2_lo))
    {
    }

    // log(x) in the lanes set in `accepted`, which hold std::log's value;
    // x in the others. Inlined into the batch loop, as exp's.
    __attribute__((always_inline)) V operator()(V x, typename S::Mask& accepted) const
    {
        // Positive normal finite inputs; the other lanes compute garbage
        // (m is a normal number whatever x is), which is never accepted.
        const typename S::Mask normal = S::within(x, kMinNormal, kMaxFinite);
        const I ix = S::as_bits(x);
        const I tmp = S::isub(ix, S::iset1(kOffset));
        const typename S::Index j = S::template index16<kShift>(tmp);  // the cell
        const V m = S::from_bits(S::isub(ix, S::iand(tmp, S::iset1(kHigh))));
        const V kd = S::to_double(S::sra(tmp, 52));  // arithmetic: k is signed

        V c, th, tl;
        S::lookup3(tables, j, c, th, tl);

        // r = m c - 1 = u + rl exactly.
        const V ph = S::mul(m, c);
        const V rl = S::fms(m, c, ph);
        const V u = S::sub(ph, S::set1(1.0));

        // log1p(u + rl) = a + ae + u^3 Q(u) + rl (1 - u + u^2), a + ae = u -
        // u^2/2: a rounded once by FMA, u - a exact (Sterbenz), and ae the
        // rest rounded once, below 2^-106 |u| off.
        const V hu = S::mul(u, S::set1(0.5));
        const V a = S::fnma(hu, u, u);
        const V ae = S::fnma(hu, u, S::sub(u, a));
        const V sq = S::mul(u, u);
        V q = S::set1(kC[kTerms - 1]);
        for (int i = kTerms - 2; i >= 0; --i)
            q = S::fma(u, q, S::set1(kC[i]));
        const V w = S::fma(rl, S::sub(sq, u), S::add(rl, ae));
        const V small = S::fma(S::mul(sq, u), q, w);

        // H = k ln2_hi + T_hi exactly; L = k ln2_lo + T_lo. s1 + e1 = H + a
        // by a fast two-sum (|H| >= |a| or H = 0), then s + tt = s1 + (e1 +
        // small + L).
        const V H = S::fma(kd, ln2_hi, th);
        const V L = S::fma(kd, ln2_lo, tl);
        const V s1 = S::add(H, a);
        const V e1 = S::add(S::sub(H, s1), a);
        const V lo = S::add(e1, S::add(small, L));
        const V s = S::add(s1, lo);
        const V tt = S::sub(lo, S::sub(s, s1));

        // Accept when s + tt C rounds back to s. log(1) = +0 is accepted too.
        accepted = S::and_(normal, S::eq(S::fma(tt, S::set1(kAcceptScale), s), s));
        return S::select(accepted, s, x);
    }
};

template <class S>
void log_exact_batch(const double* x, double* y, std::size_t count)
{
    const Table& t = table();
    if (!t.ok) {
        for (std::size_t i = 0; i < count; ++i)
            y[i] = std::log(x[i]);
        return;
    }
    batch_kernel::evaluate<S>(x, y, count, Lanes<S>(t), [](double v) { return std::log(v); });
}

// How many of `count` lanes the evaluation leaves to std::log: a measure for
// benchmarks and tests.
template <class S>
std::size_t log_exact_fallbacks(const double* x, std::size_t count)
{
    const Table& t = table();
    return t.ok ? batch_kernel::count_rejected<S>(x, count, Lanes<S>(t)) : count;
}

}  // namespace log_kernel
