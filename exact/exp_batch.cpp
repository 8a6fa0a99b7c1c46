#include "exact/exp_batch.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

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
namespace {

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
    alignas(64) double hi[kSize];
    alignas(64) double lo[kSize];
    double ln2_hi = 0, ln2_lo = 0;  // ln2_hi with 39 significant bits
    bool ok = false;
};

// ln2 = sum 1/(i 2^i), then 2^(j/16) = exp(j ln2/16) by its Taylor series,
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
    // k/16 has at most 14 significant bits for |x| <= kLimit, so
    // (k/16) ln2_hi is exact.
    std::uint64_t b;
    const double rounded = static_cast<double>(ln2);
    std::memcpy(&b, &rounded, sizeof b);
    b &= ~std::uint64_t{0x3FFF};
    std::memcpy(&t.ln2_hi, &b, sizeof b);
    t.ln2_lo = static_cast<double>(ln2 - t.ln2_hi);
    bool ok = std::fabs(static_cast<long double>(t.ln2_hi) + t.ln2_lo - logl(2.0L)) <
              0x1p-60L * t.ln2_hi;
    const __float128 step = ln2 / kSize;
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

struct Tables512 {
    __m512d hi0, hi1, lo0, lo1;
    __m512d ln2_hi, ln2_lo;
};

// Eight exponentials; `accepted` gets the lanes that hold std::exp's value.
__attribute__((target("avx512f"), always_inline)) inline __m512d exp8(__m512d x,
                                                                      const Tables512& T,
                                                                      __mmask8& accepted)
{
    const __mmask8 in_range =
        _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(x, _mm512_set1_pd(-kLimit), _CMP_GE_OQ), x,
                                _mm512_set1_pd(kLimit), _CMP_LE_OQ);

    // kq = k/16 exactly; vpermt2pd reads only the low four bits of kt, j.
    const __m512d shift = _mm512_set1_pd(kShift);
    const __m512d kt = _mm512_fmadd_pd(x, _mm512_set1_pd(kInvLn2), shift);
    const __m512d kq = _mm512_sub_pd(kt, shift);
    const __m512i j = _mm512_castpd_si512(kt);

    // r = x - kq ln2 as rh + rl. kq ln2_hi is exact and so is
    // s0 = x - kq ln2_hi (Sterbenz for |k| >= 2, a 53-bit difference for
    // |k| = 1). s0 - rh is exact too unless |s0| < 2^-27, where its
    // rounding is below 2^-81.
    const __m512d s0 = _mm512_fnmadd_pd(kq, T.ln2_hi, x);
    const __m512d rh = _mm512_fnmadd_pd(kq, T.ln2_lo, s0);
    const __m512d rl = _mm512_fnmadd_pd(kq, T.ln2_lo, _mm512_sub_pd(s0, rh));

    // exp(r) - 1 = rh + q + rl (1 + rh), q = rh^2 (1/2 + rh/6 + ... + rh^6/8!).
    __m512d h = _mm512_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        h = _mm512_fmadd_pd(rh, h, _mm512_set1_pd(kC[i]));
    const __m512d q = _mm512_mul_pd(_mm512_mul_pd(rh, rh), h);

    // T exp(r) = (Th + Th rh) + [Th q + u (1 + rh)], u = Tl + Th rl.
    // s1 = fl(Th + Th rh) and its error e1 by FMA: Th - s1 is exact
    // (Sterbenz), so e1 is the error rounded once.
    const __m512d th = _mm512_permutex2var_pd(T.hi0, j, T.hi1);
    const __m512d tl = _mm512_permutex2var_pd(T.lo0, j, T.lo1);
    const __m512d u = _mm512_fmadd_pd(th, rl, tl);
    const __m512d lo = _mm512_fmadd_pd(th, q, _mm512_fmadd_pd(u, rh, u));
    const __m512d s1 = _mm512_fmadd_pd(th, rh, th);
    const __m512d e1 = _mm512_fmadd_pd(th, rh, _mm512_sub_pd(th, s1));
    const __m512d t0 = _mm512_add_pd(e1, lo);
    const __m512d s = _mm512_add_pd(s1, t0);
    const __m512d t = _mm512_sub_pd(t0, _mm512_sub_pd(s, s1));

    // fl(s + K t) == s exactly when |t| <= ulp(s) / 2K, s no power of two:
    // one FMA and a compare instead of building ulp(s).
    const __m512d nudged = _mm512_fmadd_pd(t, _mm512_set1_pd(kAcceptScale), s);
    __mmask8 ok = _mm512_mask_cmp_pd_mask(in_range, nudged, s, _CMP_EQ_OQ);
    ok = _mm512_mask_test_epi64_mask(ok, _mm512_castpd_si512(s),
                                     _mm512_set1_epi64(0x000FFFFFFFFFFFFF));
    // exp(+-0) is exactly 1 (s = 1, t = 0): common in callers, and never
    // worth the library.
    accepted = ok | _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_EQ_OQ);
    // s 2^floor(kq) = s 2^m. maskz: GCC 12 warns on the plain form.
    return _mm512_maskz_scalef_pd(0xFF, s, kq);
}

// The library's values for the lanes exp8 rejected, whose inputs were
// stored in their place. The masks are read 64 lanes at a time (x86 is
// little-endian: lane 8 v + i is bit 8 v + i), accepted[] padded with 0xFF
// to whole words: one unpredictable branch per word instead of one per
// vector, about a fifth of which have a rejected lane. Out of line: the
// call clobbers every vector register, which the vector loop should not
// have to save.
__attribute__((noinline)) void redo_rejected(double* y, const __mmask8* accepted,
                                             std::size_t vectors)
{
    for (std::size_t w = 0; 8 * w < vectors; ++w) {
        std::uint64_t bad;
        std::memcpy(&bad, accepted + 8 * w, sizeof bad);
        for (bad = ~bad; bad != 0; bad &= bad - 1) {
            double& lane = y[64 * w + static_cast<unsigned>(__builtin_ctzll(bad))];
            lane = std::exp(lane);
        }
    }
}

// Rejected lanes get their input stored in place of the result (y may be
// x), and the library is called on them per block from the saved masks.
template <bool Capped>
__attribute__((target("avx512f"))) void exp_avx512(const double* x, double* y, std::size_t count,
                                                   double cap)
{
    const Table& t = table();
    constexpr std::size_t kBlock = 512;
    alignas(8) __mmask8 accepted[kBlock / 8];
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t n = count - start < kBlock ? count - start : kBlock;
        const double* xb = x + start;
        double* yb = y + start;
        const __m512d vcap = _mm512_set1_pd(cap);
        Tables512 T;
        T.hi0 = _mm512_load_pd(t.hi);
        T.hi1 = _mm512_load_pd(t.hi + 8);
        T.lo0 = _mm512_load_pd(t.lo);
        T.lo1 = _mm512_load_pd(t.lo + 8);
        T.ln2_hi = _mm512_set1_pd(t.ln2_hi);
        T.ln2_lo = _mm512_set1_pd(t.ln2_lo);
        std::size_t v = 0;
        for (; 8 * v + 8 <= n; ++v) {
            __m512d in = _mm512_loadu_pd(xb + 8 * v);
            if (Capped)
                in = _mm512_maskz_min_pd(0xFF, in, vcap);  // maskz: GCC 12 warns on the plain form
            __mmask8 ok;
            const __m512d out = exp8(in, T, ok);
            _mm512_storeu_pd(yb + 8 * v, _mm512_mask_blend_pd(ok, in, out));
            accepted[v] = ok;
        }
        if (8 * v < n) {
            const __mmask8 live = static_cast<__mmask8>((1u << (n - 8 * v)) - 1);
            __m512d in = _mm512_maskz_loadu_pd(live, xb + 8 * v);
            if (Capped)
                in = _mm512_maskz_min_pd(0xFF, in, vcap);
            __mmask8 ok;
            const __m512d out = exp8(in, T, ok);
            _mm512_mask_storeu_pd(yb + 8 * v, live, _mm512_mask_blend_pd(ok, in, out));
            accepted[v++] = static_cast<__mmask8>(ok | ~live);
        }
        for (std::size_t pad = v; pad % 8 != 0; ++pad)
            accepted[pad] = 0xFF;
        redo_rejected(yb, accepted, v);
    }
}

// As exp8, four lanes. Table entries by scalar loads (gathers are slow on
// CPUs with the gather-sampling mitigation); AVX2 has no arithmetic 64-bit
// shift nor vscalefpd, so 2^m is added to the exponent from k biased
// positive. The arithmetic is exp8's, so is the error bound.
template <bool Capped>
__attribute__((target("avx2,fma"))) void exp4(const double* xp, double* yp, const Table& t,
                                              double cap)
{
    __m256d x0 = _mm256_loadu_pd(xp);
    if (Capped)
        x0 = _mm256_min_pd(x0, _mm256_set1_pd(cap));
    const __m256d in_range =
        _mm256_and_pd(_mm256_cmp_pd(x0, _mm256_set1_pd(-kLimit), _CMP_GE_OQ),
                      _mm256_cmp_pd(x0, _mm256_set1_pd(kLimit), _CMP_LE_OQ));
    const __m256d x = _mm256_and_pd(x0, in_range);

    const __m256d shift = _mm256_set1_pd(kShift);
    const __m256d kt = _mm256_fmadd_pd(x, _mm256_set1_pd(kInvLn2), shift);
    const __m256d kq = _mm256_sub_pd(kt, shift);
    const __m256i k = _mm256_sub_epi64(_mm256_castpd_si256(kt), _mm256_castpd_si256(shift));
    const __m256i j = _mm256_and_si256(k, _mm256_set1_epi64x(kSize - 1));
    constexpr long long kBias = 1024;
    const __m256i m_biased =
        _mm256_srli_epi64(_mm256_add_epi64(k, _mm256_set1_epi64x(kBias << kBits)), kBits);

    const __m256d ln2_lo = _mm256_set1_pd(t.ln2_lo);
    const __m256d s0 = _mm256_fnmadd_pd(kq, _mm256_set1_pd(t.ln2_hi), x);
    const __m256d rh = _mm256_fnmadd_pd(kq, ln2_lo, s0);
    const __m256d rl = _mm256_fnmadd_pd(kq, ln2_lo, _mm256_sub_pd(s0, rh));

    __m256d h = _mm256_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        h = _mm256_fmadd_pd(rh, h, _mm256_set1_pd(kC[i]));
    const __m256d q = _mm256_mul_pd(_mm256_mul_pd(rh, rh), h);

    alignas(32) long long at[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), j);
    const __m256d th = _mm256_set_pd(t.hi[at[3]], t.hi[at[2]], t.hi[at[1]], t.hi[at[0]]);
    const __m256d tl = _mm256_set_pd(t.lo[at[3]], t.lo[at[2]], t.lo[at[1]], t.lo[at[0]]);
    const __m256d u = _mm256_fmadd_pd(th, rl, tl);
    const __m256d lo = _mm256_fmadd_pd(th, q, _mm256_fmadd_pd(u, rh, u));
    const __m256d s1 = _mm256_fmadd_pd(th, rh, th);
    const __m256d e1 = _mm256_fmadd_pd(th, rh, _mm256_sub_pd(th, s1));
    const __m256d t0 = _mm256_add_pd(e1, lo);
    const __m256d s = _mm256_add_pd(s1, t0);
    const __m256d tt = _mm256_sub_pd(t0, _mm256_sub_pd(s, s1));

    const __m256i sbits = _mm256_castpd_si256(s);
    const __m256d nudged = _mm256_fmadd_pd(tt, _mm256_set1_pd(kAcceptScale), s);
    const __m256d near = _mm256_cmp_pd(nudged, s, _CMP_EQ_OQ);
    const __m256i mant = _mm256_and_si256(sbits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFF));
    const __m256d pow2 = _mm256_castsi256_pd(_mm256_cmpeq_epi64(mant, _mm256_setzero_si256()));
    const __m256d good = _mm256_andnot_pd(pow2, _mm256_and_pd(in_range, near));
    const __m256d zero = _mm256_cmp_pd(x0, _mm256_setzero_pd(), _CMP_EQ_OQ);
    const unsigned accepted = static_cast<unsigned>(_mm256_movemask_pd(_mm256_or_pd(good, zero)));

    const __m256i ybits = _mm256_sub_epi64(_mm256_add_epi64(sbits, _mm256_slli_epi64(m_biased, 52)),
                                           _mm256_set1_epi64x(kBias << 52));
    const __m256d y = _mm256_castsi256_pd(ybits);
    if (accepted == 0xF) {
        _mm256_storeu_pd(yp, y);
        return;
    }
    // Through copies: y may be x, which the rejected lanes still need.
    alignas(32) double in[4], out[4];
    _mm256_store_pd(in, x0);
    _mm256_store_pd(out, y);
    for (unsigned i = 0; i < 4; ++i)
        if (!(accepted >> i & 1u))
            out[i] = std::exp(in[i]);
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
        return table().ok && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("fma");
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
