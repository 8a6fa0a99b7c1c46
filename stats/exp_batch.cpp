#include "stats/exp_batch.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

// exp(x) = 2^m * 2^(j/32) * exp(r), k = 32 m + j = round(x * 32/ln2),
// r = x - k ln2/32, |r| <= ln2/64 (plus a hair from rounding k). A table of
// 32 entries fits in registers: on CPUs where gathers are slow, permutes
// are not.
//
// Error of the double-double s + t against exp(x), relative, per lane:
//   r as rh + rl, from ln2/32 in two doubles:          < 2^-77
//   exp(r) - 1 by its degree-7 Taylor polynomial:       < 2^-67
//   rounding in the polynomial (r^2, Horner, q + rl):   < 2^-65
//   table 2^(j/32) as hi + lo (from binary128):         < 2^-105
//   the roundings summing the small terms, neglected
//   Tl q:                                               < 2^-64
// so below 2^-63, i.e. 2^-10 of an ulp of s. The C library's exp is within
// 0.511 ulp (measured maximum 0.5068 over 40 million inputs), so it returns
// the nearest double whenever the true value is more than 0.011 ulp from a
// midpoint. A lane is accepted when |t| < (61/128) ulp(s): the true value is
// then more than 3/128 - 2^-10 > 0.022 ulp from the midpoint.
namespace {

constexpr int kBits = 5;
constexpr int kSize = 1 << kBits;
constexpr double kInvStep = 0x1.71547652b82fep+5;  // 32/ln2, only to choose k
constexpr double kShift = 0x1.8p52;                 // rounds to an integer in the low bits
constexpr double kLimit = 700.0;                    // keeps 2^m and the result normal
constexpr double kAccept = 0x1.e8p-54;              // (61/128) ulp of 1, relative to 2^e
constexpr double kC[] = {1.0 / 2, 1.0 / 6, 1.0 / 24, 1.0 / 120, 1.0 / 720, 1.0 / 5040};
constexpr int kTerms = sizeof kC / sizeof kC[0];

struct Table {
    alignas(64) double hi[kSize];
    alignas(64) double lo[kSize];
    double step_hi = 0, step_lo = 0;  // ln2/32, step_hi with 37 significant bits
    bool ok = false;
};

// ln2 = sum 1/(i 2^i), then 2^(j/32) = exp(j ln2/32) by its Taylor series,
// in binary128: far more precision than the split needs, and independent of
// any library exp. Checked against exp2l before use.
Table build_table()
{
    Table t;
    __float128 ln2 = 0, p = 1;
    for (int i = 1; i <= 130; ++i) {
        p /= 2;
        ln2 += p / i;
    }
    const __float128 step = ln2 / kSize;
    std::uint64_t b;
    const double rounded = static_cast<double>(step);
    std::memcpy(&b, &rounded, sizeof b);
    b &= ~std::uint64_t{0xFFFF};
    std::memcpy(&t.step_hi, &b, sizeof b);
    t.step_lo = static_cast<double>(step - t.step_hi);
    bool ok = std::fabs(static_cast<long double>(t.step_hi) + t.step_lo - logl(2.0L) / kSize) <
              0x1p-60L * t.step_hi;
    for (int j = 0; j < kSize; ++j) {
        const __float128 y = step * j;
        __float128 sum = 1, term = 1;
        for (int i = 1; i <= 45; ++i) {
            term = term * y / i;
            sum += term;
        }
        const double hi = static_cast<double>(sum);
        const double lo = static_cast<double>(sum - hi);
        t.hi[j] = hi;
        t.lo[j] = lo;
        const long double ref = exp2l(static_cast<long double>(j) / kSize);
        ok = ok && hi >= 1.0 && hi < 2.0 && std::fabs(lo) <= 0x1p-53 &&
             std::fabs(static_cast<long double>(hi) + lo - ref) < 0x1p-60L * ref;
    }
    t.ok = ok && t.hi[0] == 1.0 && t.lo[0] == 0.0;
    return t;
}

const Table& table()
{
    static const Table t = build_table();
    return t;
}

// The capped variants take exp(x < cap ? x : cap), NaN becoming cap; the
// plain ones exp(x). vminpd(x, cap) is exactly that ternary.
template <bool Capped>
inline double apply_cap(double x, double cap)
{
    return Capped ? (x < cap ? x : cap) : x;
}

template <bool Capped>
void exp_scalar(const double* x, double* y, std::size_t count, double cap)
{
    for (std::size_t i = 0; i < count; ++i)
        y[i] = std::exp(apply_cap<Capped>(x[i], cap));
}

// Lanes whose bit in `accepted` is clear are left to the library.
inline void finish(const double* x, double* y, unsigned accepted, unsigned lanes)
{
    for (unsigned i = 0; i < lanes; ++i)
        if (!(accepted >> i & 1u))
            y[i] = std::exp(x[i]);
}

struct Tables512 {
    __m512d hi[4], lo[4];
    __m512d step_hi, step_lo;
};

// Entry j of a 32-entry table held in four registers.
__attribute__((target("avx512f"), always_inline)) inline __m512d lookup(const __m512d* tab,
                                                                        __m512i j)
{
    const __m512d low = _mm512_permutex2var_pd(tab[0], j, tab[1]);
    const __m512d high = _mm512_permutex2var_pd(tab[2], j, tab[3]);
    return _mm512_mask_blend_pd(_mm512_test_epi64_mask(j, _mm512_set1_epi64(16)), low, high);
}

// Eight exponentials into yp; returns the lanes that hold std::exp's value.
__attribute__((target("avx512f"), always_inline)) inline __mmask8 exp8(__m512d x0, double* yp,
                                                                      const Tables512& T)
{
    const __mmask8 in_range = _mm512_cmp_pd_mask(x0, _mm512_set1_pd(-kLimit), _CMP_GE_OQ) &
                              _mm512_cmp_pd_mask(x0, _mm512_set1_pd(kLimit), _CMP_LE_OQ);
    const __m512d x = _mm512_maskz_mov_pd(in_range, x0);

    const __m512d shift = _mm512_set1_pd(kShift);
    const __m512d kt = _mm512_add_pd(_mm512_mul_pd(x, _mm512_set1_pd(kInvStep)), shift);
    const __m512d kd = _mm512_sub_pd(kt, shift);
    const __m512i k = _mm512_sub_epi64(_mm512_castpd_si512(kt), _mm512_castpd_si512(shift));
    const __m512i j = _mm512_and_si512(k, _mm512_set1_epi64(kSize - 1));
    const __m512i m = k >> kBits;  // arithmetic: k is signed

    // r = x - k step as rh + rl. k step_hi is exact (|k| < 2^15, step_hi has
    // 37 bits) and so is s0 = x - k step_hi (Sterbenz for |k| >= 2, a 53-bit
    // difference for |k| = 1). s0 - rh is exact too unless |s0| < 2^-26,
    // where its rounding is below 2^-78.
    const __m512d s0 = _mm512_sub_pd(x, _mm512_mul_pd(kd, T.step_hi));
    const __m512d rh = _mm512_fnmadd_pd(kd, T.step_lo, s0);
    const __m512d rl = _mm512_fnmadd_pd(kd, T.step_lo, _mm512_sub_pd(s0, rh));

    // exp(r) - 1 = rh + (q + rl (1 + rh)), q = rh^2 (1/2 + rh/6 + ... + rh^5/7!).
    __m512d h = _mm512_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        h = _mm512_fmadd_pd(rh, h, _mm512_set1_pd(kC[i]));
    const __m512d q = _mm512_mul_pd(_mm512_mul_pd(rh, rh), h);
    const __m512d qr = _mm512_add_pd(q, _mm512_fmadd_pd(rl, rh, rl));

    // T (1 + P) = (Th + Th rh) + [Th qr + Tl (1 + rh)]. s1 = fl(Th + Th rh)
    // and its error e1 by FMA: Th - s1 is exact (Sterbenz), so e1 is the
    // error rounded once.
    const __m512d th = lookup(T.hi, j);
    const __m512d tl = lookup(T.lo, j);
    const __m512d s1 = _mm512_fmadd_pd(th, rh, th);
    const __m512d e1 = _mm512_fmadd_pd(th, rh, _mm512_sub_pd(th, s1));
    const __m512d lo = _mm512_fmadd_pd(th, qr, _mm512_fmadd_pd(tl, rh, tl));
    const __m512d t0 = _mm512_add_pd(e1, lo);
    const __m512d s = _mm512_add_pd(s1, t0);
    const __m512d tt = _mm512_sub_pd(t0, _mm512_sub_pd(s, s1));

    // Accept when |t| < (61/128) ulp(s) and s is no power of two (whose ulp
    // below is half the one above).
    const __m512i sbits = _mm512_castpd_si512(s);
    const __m512d pow2 =
        _mm512_castsi512_pd(_mm512_and_si512(sbits, _mm512_set1_epi64(0x7FF0000000000000)));
    const __m512d bound = _mm512_mul_pd(pow2, _mm512_set1_pd(kAccept));
    const __m512d abs_t = _mm512_castsi512_pd(
        _mm512_and_si512(_mm512_castpd_si512(tt), _mm512_set1_epi64(0x7FFFFFFFFFFFFFFF)));
    const __mmask8 accepted = in_range & _mm512_cmp_pd_mask(abs_t, bound, _CMP_LT_OQ) &
                              _mm512_test_epi64_mask(sbits, _mm512_set1_epi64(0x000FFFFFFFFFFFFF));

    // exp(+-0) is exactly 1: common in callers, and never worth the library.
    const __mmask8 zero = _mm512_cmp_pd_mask(x0, _mm512_setzero_pd(), _CMP_EQ_OQ);
    const __m512d y = _mm512_castsi512_pd(_mm512_add_epi64(sbits, m << 52));
    _mm512_storeu_pd(yp, _mm512_mask_blend_pd(zero, y, _mm512_set1_pd(1.0)));
    return accepted | zero;
}

// The rejected lanes (index and input, as y may be x) are collected without
// branching and handed to the library per block, keeping mispredictions out
// of the vector loop.
template <bool Capped>
__attribute__((target("avx512f"))) void exp_avx512(const double* x, double* y, std::size_t count,
                                                   double cap)
{
    const __m512d vcap = _mm512_set1_pd(cap);
    const Table& t = table();
    Tables512 T;
    for (int i = 0; i < 4; ++i) {
        T.hi[i] = _mm512_load_pd(t.hi + 8 * i);
        T.lo[i] = _mm512_load_pd(t.lo + 8 * i);
    }
    T.step_hi = _mm512_set1_pd(t.step_hi);
    T.step_lo = _mm512_set1_pd(t.step_lo);

    constexpr std::size_t kBlock = 512;
    alignas(64) long long rejected[kBlock + 8];
    alignas(64) double rejected_x[kBlock + 8];
    const __m512i lanes = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t i = 0;
    while (i + 8 <= count) {
        const std::size_t end = count - i < kBlock ? i + (count - i) / 8 * 8 : i + kBlock;
        std::size_t nrej = 0;
        for (; i < end; i += 8) {
            __m512d in = _mm512_loadu_pd(x + i);
            if (Capped)
                in = _mm512_maskz_min_pd(0xFF, in, vcap);  // maskz: GCC 12 warns on the plain form
            const __mmask8 bad = static_cast<__mmask8>(~exp8(in, y + i, T));
            const __m512i at =
                _mm512_add_epi64(lanes, _mm512_set1_epi64(static_cast<long long>(i)));
            _mm512_storeu_si512(rejected + nrej, _mm512_maskz_compress_epi64(bad, at));
            _mm512_storeu_pd(rejected_x + nrej, _mm512_maskz_compress_pd(bad, in));
            nrej += static_cast<std::size_t>(__builtin_popcount(bad));
        }
        for (std::size_t r = 0; r < nrej; ++r)
            y[rejected[r]] = std::exp(rejected_x[r]);
    }
    if (i < count) {
        double in[8] = {}, out[8];
        std::memcpy(in, x + i, (count - i) * sizeof(double));
        for (double& v : in)
            v = apply_cap<Capped>(v, cap);
        const unsigned accepted = exp8(_mm512_loadu_pd(in), out, T);
        finish(in, out, accepted, 8);
        std::memcpy(y + i, out, (count - i) * sizeof(double));
    }
}

// As exp8, four lanes. Table entries by scalar loads (gathers are slow on
// CPUs with the gather-sampling mitigation); AVX2 has no arithmetic 64-bit
// shift, so m is taken from k biased positive.
template <bool Capped>
__attribute__((target("avx2,fma"))) void exp4(const double* xp, double* yp, const Table& t,
                                              double cap)
{
    __m256d x0 = _mm256_loadu_pd(xp);
    if (Capped)
        x0 = _mm256_min_pd(x0, _mm256_set1_pd(cap));
    const __m256d ok = _mm256_and_pd(_mm256_cmp_pd(x0, _mm256_set1_pd(-kLimit), _CMP_GE_OQ),
                                     _mm256_cmp_pd(x0, _mm256_set1_pd(kLimit), _CMP_LE_OQ));
    const __m256d x = _mm256_and_pd(x0, ok);

    const __m256d shift = _mm256_set1_pd(kShift);
    const __m256d kt = _mm256_add_pd(_mm256_mul_pd(x, _mm256_set1_pd(kInvStep)), shift);
    const __m256d kd = _mm256_sub_pd(kt, shift);
    const __m256i k = _mm256_sub_epi64(_mm256_castpd_si256(kt), _mm256_castpd_si256(shift));
    const __m256i j = _mm256_and_si256(k, _mm256_set1_epi64x(kSize - 1));
    constexpr long long kBias = 1024;
    const __m256i m_biased =
        _mm256_srli_epi64(_mm256_add_epi64(k, _mm256_set1_epi64x(kBias << kBits)), kBits);

    const __m256d step_lo = _mm256_set1_pd(t.step_lo);
    const __m256d s0 = _mm256_sub_pd(x, _mm256_mul_pd(kd, _mm256_set1_pd(t.step_hi)));
    const __m256d rh = _mm256_fnmadd_pd(kd, step_lo, s0);
    const __m256d rl = _mm256_fnmadd_pd(kd, step_lo, _mm256_sub_pd(s0, rh));

    __m256d h = _mm256_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        h = _mm256_fmadd_pd(rh, h, _mm256_set1_pd(kC[i]));
    const __m256d q = _mm256_mul_pd(_mm256_mul_pd(rh, rh), h);
    const __m256d qr = _mm256_add_pd(q, _mm256_fmadd_pd(rl, rh, rl));

    alignas(32) long long at[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), j);
    const __m256d th = _mm256_set_pd(t.hi[at[3]], t.hi[at[2]], t.hi[at[1]], t.hi[at[0]]);
    const __m256d tl = _mm256_set_pd(t.lo[at[3]], t.lo[at[2]], t.lo[at[1]], t.lo[at[0]]);
    const __m256d s1 = _mm256_fmadd_pd(th, rh, th);
    const __m256d e1 = _mm256_fmadd_pd(th, rh, _mm256_sub_pd(th, s1));
    const __m256d lo = _mm256_fmadd_pd(th, qr, _mm256_fmadd_pd(tl, rh, tl));
    const __m256d t0 = _mm256_add_pd(e1, lo);
    const __m256d s = _mm256_add_pd(s1, t0);
    const __m256d tt = _mm256_sub_pd(t0, _mm256_sub_pd(s, s1));

    const __m256i sbits = _mm256_castpd_si256(s);
    const __m256d pow2 =
        _mm256_castsi256_pd(_mm256_and_si256(sbits, _mm256_set1_epi64x(0x7FF0000000000000)));
    const __m256d bound = _mm256_mul_pd(pow2, _mm256_set1_pd(kAccept));
    const __m256d abs_t = _mm256_andnot_pd(_mm256_set1_pd(-0.0), tt);
    const __m256i mant = _mm256_and_si256(sbits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFF));
    const __m256d pow2_lane = _mm256_castsi256_pd(_mm256_cmpeq_epi64(mant, _mm256_setzero_si256()));
    const __m256d near = _mm256_cmp_pd(abs_t, bound, _CMP_LT_OQ);
    const __m256d good = _mm256_andnot_pd(pow2_lane, _mm256_and_pd(ok, near));
    const __m256d zero = _mm256_cmp_pd(x0, _mm256_setzero_pd(), _CMP_EQ_OQ);
    const unsigned accepted = static_cast<unsigned>(_mm256_movemask_pd(_mm256_or_pd(good, zero)));

    const __m256i ybits = _mm256_sub_epi64(_mm256_add_epi64(sbits, _mm256_slli_epi64(m_biased, 52)),
                                           _mm256_set1_epi64x(kBias << 52));
    const __m256d y = _mm256_blendv_pd(_mm256_castsi256_pd(ybits), _mm256_set1_pd(1.0), zero);
    if (accepted == 0xF) {
        _mm256_storeu_pd(yp, y);
        return;
    }
    // Through copies: y may be x, which the rejected lanes still need.
    alignas(32) double in[4], out[4];
    _mm256_store_pd(in, x0);
    _mm256_store_pd(out, y);
    finish(in, out, accepted, 4);
    std::memcpy(yp, out, sizeof out);
}

template <bool Capped>
__attribute__((target("avx2,fma"))) void exp_avx2(const double* x, double* y, std::size_t count,
                                                  double cap)
{
    const Table& t = table();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4)
        exp4<Capped>(x + i, y + i, t, cap);
    if (i < count) {
        double in[4] = {}, out[4];
        std::memcpy(in, x + i, (count - i) * sizeof(double));
        exp4<Capped>(in, out, t, cap);
        std::memcpy(y + i, out, (count - i) * sizeof(double));
    }
}

using ExpBatch = void (*)(const double*, double*, std::size_t, double);

struct Impl {
    ExpBatch plain, capped;
};

Impl path_impl(exp_batch_detail::Path path)
{
    using exp_batch_detail::Path;
    switch (path) {
    case Path::avx512:
        return {exp_avx512<false>, exp_avx512<true>};
    case Path::avx2:
        return {exp_avx2<false>, exp_avx2<true>};
    case Path::scalar:
        break;
    }
    return {exp_scalar<false>, exp_scalar<true>};
}

Impl choose()
{
    using exp_batch_detail::Path;
    if (exp_batch_detail::exp_batch_path_available(Path::avx512))
        return path_impl(Path::avx512);
    if (exp_batch_detail::exp_batch_path_available(Path::avx2))
        return path_impl(Path::avx2);
    return path_impl(Path::scalar);
}

const Impl& chosen()
{
    static const Impl impl = choose();
    return impl;
}

}  // namespace

void exp_batch(const double* x, double* y, std::size_t count)
{
    chosen().plain(x, y, count, 0.0);
}

void exp_batch_capped(const double* x, double* y, std::size_t count, double cap)
{
    chosen().capped(x, y, count, cap);
}

namespace exp_batch_detail {

bool exp_batch_path_available(Path path)
{
    __builtin_cpu_init();
    switch (path) {
    case Path::scalar:
        return true;
    case Path::avx2:
        return table().ok && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case Path::avx512:
        return table().ok && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
    }
    return false;
}

void exp_batch_path(Path path, const double* x, double* y, std::size_t count)
{
    path_impl(path).plain(x, y, count, 0.0);
}

void exp_batch_capped_path(Path path, const double* x, double* y, std::size_t count, double cap)
{
    path_impl(path).capped(x, y, count, cap);
}

}  // namespace exp_batch_detail
