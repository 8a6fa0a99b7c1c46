#include "exact/log_exact.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

// log(x) = k ln2 + T_i + log1p(r): x = 2^k m with m in [m0, 2 m0), m0 =
// 0.703125, cut into 16 cells by the top four bits of m's offset from m0;
// c_i is about 1/m on cell i, T_i = -log(c_i), and r = m c_i - 1 exactly as
// the double-double u + rl (u = fl(m c_i) - 1 is exact by Sterbenz, rl the
// product's error by FMA). 1.0 lies in the middle of cell 9, whose c is 1:
// there u = m - 1 and rl = 0, so tiny results keep their relative accuracy.
// |u| <= 2^-5 everywhere; off cell 9 with k = 0, |u| <= 1.04 |log x| and
// |log x| >= 2^-6; with k != 0, |log x| > 0.3. A table of 16 entries is one
// register permute: on CPUs where gathers are slow, permutes are not.
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
// from the midpoint.
namespace {

constexpr int kBits = 4;
constexpr int kSize = 1 << kBits;
constexpr int kShift = 52 - kBits;
constexpr std::int64_t kOffset = 0x3fe6800000000000;  // m0: puts 1.0 mid-cell
constexpr int kCentre = 9;                             // the cell of 1.0
constexpr std::int64_t kHigh = ~((std::int64_t{1} << 52) - 1);
constexpr std::int64_t kExpBias = std::int64_t{1024} << 52;  // keeps k + 1024 >= 0
constexpr std::int64_t kMagicBits = 0x4330000000000000;      // 2^52: integers in the low bits
constexpr double kMagic = 0x1p52 + 1024;
constexpr std::int64_t kOneBits = 0x3ff0000000000000;
constexpr std::int64_t kMinNormal = 0x0010000000000000;
constexpr std::int64_t kNormalSpan = 0x7fe0000000000000;  // positive normals, from kMinNormal
constexpr double kAcceptScale = 512.0 / 477;             // C: accepts |t| up to 477/1024 ulp
constexpr double kRho = 0x1p-5;                           // bound on |r|
// 1/3, -1/4, ..., 1/13: log1p(u) = u - u^2/2 + u^3 Q(u).
constexpr double kC[] = {1.0 / 3,  -1.0 / 4, 1.0 / 5,   -1.0 / 6, 1.0 / 7,   -1.0 / 8,
                         1.0 / 9, -1.0 / 10, 1.0 / 11, -1.0 / 12, 1.0 / 13};
constexpr int kTerms = sizeof kC / sizeof kC[0];

struct Table {
    alignas(64) double c[kSize];
    alignas(64) double hi[kSize];  // T_i rounded to a multiple of 2^-43
    alignas(64) double lo[kSize];
    double ln2_hi = 0, ln2_lo = 0;  // ln2_hi a multiple of 2^-43
    bool ok = false;
};

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
__float128 log128(__float128 c)
{
    const __float128 z = (c - 1) / (c + 1);
    const __float128 z2 = z * z;
    __float128 sum = 0, p = z;
    for (int j = 0; j < 40; ++j) {
        sum += p / (2 * j + 1);
        p *= z2;
    }
    return 2 * sum;
}

__float128 abs128(__float128 v)
{
    return v < 0 ? -v : v;
}

// ln2 = sum 1/(i 2^i); the T_i by series in binary128, independent of any
// library log. Checked against logl before use, along with the cell
// properties the error argument relies on.
Table build_table()
{
    Table t;
    __float128 ln2 = 0, p = 1;
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
            i == kCentre ? 1.0 : static_cast<double>(2 / (static_cast<__float128>(a) + b));
        const __float128 T = -log128(c);
        t.c[i] = c;
        t.hi[i] = round_to_2m43(static_cast<double>(T));
        t.lo[i] = static_cast<double>(T - t.hi[i]);
        const __float128 ra = abs128(static_cast<__float128>(a) * c - 1);
        const __float128 rb = abs128(static_cast<__float128>(b) * c - 1);
        const __float128 rmax = ra > rb ? ra : rb;
        const long double ref = -logl(static_cast<long double>(c));
        ok = ok && rmax <= kRho &&
             std::fabs(static_cast<long double>(t.hi[i]) + t.lo[i] - ref) <=
                 0x1p-60L * std::fabs(ref) &&
             std::fabs(t.lo[i]) <= 0x1p-44;
        // Off the centre, |u| stays within 1.04 |log m| on the cell, and T_hi
        // outweighs log1p(u): s1 = H + a is a fast two-sum.
        if (i != kCentre) {
            const __float128 la = abs128(log128(a)), lb = abs128(log128(b));
            const __float128 lmin = la < lb ? la : lb;
            ok = ok && abs128(t.hi[i]) >= rmax && rmax <= lmin * 1.04 && lmin >= 0x1p-6;
        }
    }
    t.ok = ok && t.c[kCentre] == 1.0 && t.hi[kCentre] == 0.0 && t.lo[kCentre] == 0.0 &&
           from_bits(kOffset + (std::int64_t{2 * kCentre + 1} << (kShift - 1))) == 1.0;
    return t;
}

const Table& table()
{
    static const Table t = build_table();
    return t;
}

void log_scalar(const double* x, double* y, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        y[i] = std::log(x[i]);
}

// The compaction of rejected lanes wants 16-bit compress (VBMI2).
#define LOG_EXACT_AVX512 "avx512f,avx512dq,avx512bw,avx512vbmi2,fma"

struct Tables512 {
    __m512d c[2], hi[2], lo[2];
    __m512d ln2_hi, ln2_lo;
};

// Entry j of a 16-entry table held in two registers; the bits of j above
// bit 3 are ignored.
__attribute__((target("avx512f"), always_inline)) inline __m512d lookup(const __m512d* tab,
                                                                        __m512i j)
{
    return _mm512_permutex2var_pd(tab[0], j, tab[1]);
}

// Eight logarithms into y; returns the lanes that hold std::log's value.
__attribute__((target(LOG_EXACT_AVX512), always_inline)) inline __mmask8 log8(
    __m512d x0, __m512d& y, const Tables512& T)
{
    // Positive normal finite inputs; the other lanes compute garbage, which
    // is never accepted.
    const __m512i ix = _mm512_castpd_si512(x0);
    const __mmask8 normal =
        _mm512_cmplt_epu64_mask(_mm512_sub_epi64(ix, _mm512_set1_epi64(kMinNormal)),
                                _mm512_set1_epi64(kNormalSpan));
    const __m512i tmp = _mm512_sub_epi64(ix, _mm512_set1_epi64(kOffset));
    const __m512i j = tmp >> kShift;  // the cell in bits 0-3; the bits above are ignored
    const __m512d m =
        _mm512_castsi512_pd(_mm512_sub_epi64(ix, _mm512_and_si512(tmp, _mm512_set1_epi64(kHigh))));
    const __m512d kd = _mm512_cvtepi64_pd(tmp >> 52);  // arithmetic: k is signed

    const __m512d c = lookup(T.c, j);
    const __m512d th = lookup(T.hi, j);
    const __m512d tl = lookup(T.lo, j);

    // r = m c - 1 = u + rl exactly.
    const __m512d ph = _mm512_mul_pd(m, c);
    const __m512d rl = _mm512_fmsub_pd(m, c, ph);
    const __m512d u = _mm512_sub_pd(ph, _mm512_set1_pd(1.0));

    // log1p(u + rl) = a + ae + u^3 Q(u) + rl (1 - u + u^2), a + ae = u -
    // u^2/2: a rounded once by FMA, u - a exact (Sterbenz), and ae the rest
    // rounded once, below 2^-106 |u| off.
    const __m512d hu = _mm512_mul_pd(u, _mm512_set1_pd(0.5));
    const __m512d a = _mm512_fnmadd_pd(hu, u, u);
    const __m512d ae = _mm512_fnmadd_pd(hu, u, _mm512_sub_pd(u, a));
    const __m512d sq = _mm512_mul_pd(u, u);
    __m512d q = _mm512_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        q = _mm512_fmadd_pd(u, q, _mm512_set1_pd(kC[i]));
    const __m512d w = _mm512_fmadd_pd(rl, _mm512_sub_pd(sq, u), _mm512_add_pd(rl, ae));
    const __m512d small = _mm512_fmadd_pd(_mm512_mul_pd(sq, u), q, w);

    // H = k ln2_hi + T_hi exactly; L = k ln2_lo + T_lo. s1 + e1 = H + a by
    // a fast two-sum (|H| >= |a| or H = 0), then s + tt = s1 + (e1 + small + L).
    const __m512d H = _mm512_fmadd_pd(kd, T.ln2_hi, th);
    const __m512d L = _mm512_fmadd_pd(kd, T.ln2_lo, tl);
    const __m512d s1 = _mm512_add_pd(H, a);
    const __m512d e1 = _mm512_add_pd(_mm512_sub_pd(H, s1), a);
    const __m512d lo = _mm512_add_pd(e1, _mm512_add_pd(small, L));
    const __m512d s = _mm512_add_pd(s1, lo);
    const __m512d tt = _mm512_sub_pd(lo, _mm512_sub_pd(s, s1));

    // Accept when s + tt C rounds back to s. log(1) = +0 is accepted too.
    y = s;
    return _mm512_mask_cmp_pd_mask(normal, _mm512_fmadd_pd(tt, _mm512_set1_pd(kAcceptScale), s),
                                   s, _CMP_EQ_OQ);
}

__attribute__((target("avx512f"))) void load_tables(Tables512& T, const Table& t)
{
    for (int i = 0; i < 2; ++i) {
        T.c[i] = _mm512_load_pd(t.c + 8 * i);
        T.hi[i] = _mm512_load_pd(t.hi + 8 * i);
        T.lo[i] = _mm512_load_pd(t.lo + 8 * i);
    }
    T.ln2_hi = _mm512_set1_pd(t.ln2_hi);
    T.ln2_lo = _mm512_set1_pd(t.ln2_lo);
}

// Only accepted lanes are stored, so a rejected lane of y still holds its
// input when y is x. The vector loop marks the rejected lanes of a block in
// a bitmap; their indices are then compacted 32 at a time and handed to the
// library in one loop, keeping mispredictions out of the vector loop. The
// last partial vector goes through masked loads and stores.
__attribute__((target(LOG_EXACT_AVX512))) void log_avx512(const double* x, double* y, std::size_t count)
{
    Tables512 T;
    load_tables(T, table());

    constexpr std::size_t kBlock = 512;
    const __m512i lanes = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
                                           17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3,
                                           2, 1, 0);
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t n = count - start < kBlock ? count - start : kBlock;
        const double* xb = x + start;
        double* yb = y + start;
        alignas(64) __mmask8 rejected[kBlock / 8] = {};
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            __m512d out;
            const __mmask8 good = log8(_mm512_loadu_pd(xb + i), out, T);
            _mm512_mask_storeu_pd(yb + i, good, out);
            _store_mask8(rejected + i / 8, _knot_mask8(good));
        }
        if (i < n) {
            const __mmask8 live = static_cast<__mmask8>((1u << (n - i)) - 1);
            __m512d out;
            const __mmask8 good = log8(_mm512_maskz_loadu_pd(live, xb + i), out, T);
            _mm512_mask_storeu_pd(yb + i, good, out);
            rejected[i / 8] = static_cast<__mmask8>(live & ~good);
        }
        alignas(64) std::uint16_t list[kBlock + 32];
        std::size_t nrej = 0;
        for (std::size_t g = 0; g < n; g += 32) {
            std::uint32_t bits;
            std::memcpy(&bits, rejected + g / 8, sizeof bits);
            const __m512i at = _mm512_add_epi16(lanes, _mm512_set1_epi16(static_cast<short>(g)));
            _mm512_storeu_si512(list + nrej, _mm512_maskz_compress_epi16(_cvtu32_mask32(bits), at));
            nrej += static_cast<std::size_t>(__builtin_popcount(bits));
        }
        for (std::size_t r = 0; r < nrej; ++r)
            yb[list[r]] = std::log(xb[list[r]]);
    }
}

__attribute__((target(LOG_EXACT_AVX512))) std::size_t fallbacks_avx512(const double* x,
                                                                      std::size_t count)
{
    Tables512 T;
    load_tables(T, table());
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; i += 8) {
        const __mmask8 live =
            count - i >= 8 ? 0xFF : static_cast<__mmask8>((1u << (count - i)) - 1);
        __m512d out;
        const unsigned bad = live & ~log8(_mm512_maskz_loadu_pd(live, x + i), out, T);
        n += static_cast<std::size_t>(__builtin_popcount(bad));
    }
    return n;
}

// As log8, four lanes. Table entries by scalar loads (gathers are slow on
// CPUs with the gather-sampling mitigation). AVX2 compares 64-bit integers
// signed only and has no arithmetic 64-bit shift or conversion: the range
// test is made on values shifted by 2^63, k is taken biased positive.
__attribute__((target("avx2,fma"), always_inline)) inline unsigned log4(__m256d x0, __m256d& y,
                                                                        const Table& t)
{
    const __m256i ix0 = _mm256_castpd_si256(x0);
    const __m256i flip = _mm256_set1_epi64x(INT64_MIN);
    const __m256i rel =
        _mm256_xor_si256(_mm256_sub_epi64(ix0, _mm256_set1_epi64x(kMinNormal)), flip);
    const __m256i normal =
        _mm256_cmpgt_epi64(_mm256_xor_si256(_mm256_set1_epi64x(kNormalSpan), flip), rel);
    const __m256i ix = _mm256_blendv_epi8(_mm256_set1_epi64x(kOneBits), ix0, normal);

    const __m256i tmp = _mm256_sub_epi64(ix, _mm256_set1_epi64x(kOffset));
    const __m256i j =
        _mm256_and_si256(_mm256_srli_epi64(tmp, kShift), _mm256_set1_epi64x(kSize - 1));
    const __m256d m = _mm256_castsi256_pd(
        _mm256_sub_epi64(ix, _mm256_and_si256(tmp, _mm256_set1_epi64x(kHigh))));
    const __m256i kb = _mm256_srli_epi64(_mm256_add_epi64(tmp, _mm256_set1_epi64x(kExpBias)), 52);
    const __m256d kd = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_or_si256(kb, _mm256_set1_epi64x(kMagicBits))),
        _mm256_set1_pd(kMagic));

    alignas(32) long long at[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), j);
    const __m256d c = _mm256_set_pd(t.c[at[3]], t.c[at[2]], t.c[at[1]], t.c[at[0]]);
    const __m256d th = _mm256_set_pd(t.hi[at[3]], t.hi[at[2]], t.hi[at[1]], t.hi[at[0]]);
    const __m256d tl = _mm256_set_pd(t.lo[at[3]], t.lo[at[2]], t.lo[at[1]], t.lo[at[0]]);

    const __m256d ph = _mm256_mul_pd(m, c);
    const __m256d rl = _mm256_fmsub_pd(m, c, ph);
    const __m256d u = _mm256_sub_pd(ph, _mm256_set1_pd(1.0));

    const __m256d hu = _mm256_mul_pd(u, _mm256_set1_pd(0.5));
    const __m256d a = _mm256_fnmadd_pd(hu, u, u);
    const __m256d ae = _mm256_fnmadd_pd(hu, u, _mm256_sub_pd(u, a));
    const __m256d sq = _mm256_mul_pd(u, u);
    __m256d q = _mm256_set1_pd(kC[kTerms - 1]);
    for (int i = kTerms - 2; i >= 0; --i)
        q = _mm256_fmadd_pd(u, q, _mm256_set1_pd(kC[i]));
    const __m256d w = _mm256_fmadd_pd(rl, _mm256_sub_pd(sq, u), _mm256_add_pd(rl, ae));
    const __m256d small = _mm256_fmadd_pd(_mm256_mul_pd(sq, u), q, w);

    const __m256d H = _mm256_fmadd_pd(kd, _mm256_set1_pd(t.ln2_hi), th);
    const __m256d L = _mm256_fmadd_pd(kd, _mm256_set1_pd(t.ln2_lo), tl);
    const __m256d s1 = _mm256_add_pd(H, a);
    const __m256d e1 = _mm256_add_pd(_mm256_sub_pd(H, s1), a);
    const __m256d lo = _mm256_add_pd(e1, _mm256_add_pd(small, L));
    const __m256d s = _mm256_add_pd(s1, lo);
    const __m256d tt = _mm256_sub_pd(lo, _mm256_sub_pd(s, s1));

    const __m256d same = _mm256_cmp_pd(_mm256_fmadd_pd(tt, _mm256_set1_pd(kAcceptScale), s), s,
                                       _CMP_EQ_OQ);
    const __m256d good = _mm256_and_pd(_mm256_castsi256_pd(normal), same);
    y = s;
    return static_cast<unsigned>(_mm256_movemask_pd(good));
}

// Rejected lanes are redone by the library through copies: y may be x,
// which they still need.
__attribute__((target("avx2,fma"))) void log4_into(const double* xp, double* yp, const Table& t)
{
    __m256d out;
    const unsigned accepted = log4(_mm256_loadu_pd(xp), out, t);
    if (accepted == 0xF) {
        _mm256_storeu_pd(yp, out);
        return;
    }
    alignas(32) double in[4], res[4];
    std::memcpy(in, xp, sizeof in);
    _mm256_store_pd(res, out);
    for (unsigned i = 0; i < 4; ++i)
        if (!(accepted >> i & 1u))
            res[i] = std::log(in[i]);
    std::memcpy(yp, res, sizeof res);
}

__attribute__((target("avx2,fma"))) void log_avx2(const double* x, double* y, std::size_t count)
{
    const Table& t = table();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4)
        log4_into(x + i, y + i, t);
    if (i < count) {
        double in[4] = {1.0, 1.0, 1.0, 1.0}, out[4];
        std::memcpy(in, x + i, (count - i) * sizeof(double));
        log4_into(in, out, t);
        std::memcpy(y + i, out, (count - i) * sizeof(double));
    }
}

__attribute__((target("avx2,fma"))) std::size_t fallbacks_avx2(const double* x, std::size_t count)
{
    const Table& t = table();
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; i += 4) {
        double in[4] = {1.0, 1.0, 1.0, 1.0};
        const std::size_t lanes = count - i < 4 ? count - i : 4;
        std::memcpy(in, x + i, lanes * sizeof(double));
        __m256d out;
        const unsigned bad = ~log4(_mm256_loadu_pd(in), out, t) & ((1u << lanes) - 1);
        n += static_cast<std::size_t>(__builtin_popcount(bad));
    }
    return n;
}

using LogBatch = void (*)(const double*, double*, std::size_t);

LogBatch path_impl(log_exact_detail::Path path)
{
    using log_exact_detail::Path;
    switch (path) {
    case Path::avx512:
        return log_avx512;
    case Path::avx2:
        return log_avx2;
    case Path::scalar:
        break;
    }
    return log_scalar;
}

log_exact_detail::Path best_path()
{
    using log_exact_detail::Path;
    if (log_exact_detail::log_exact_path_available(Path::avx512))
        return Path::avx512;
    if (log_exact_detail::log_exact_path_available(Path::avx2))
        return Path::avx2;
    return Path::scalar;
}

LogBatch chosen()
{
    static const LogBatch impl = path_impl(best_path());
    return impl;
}

}  // namespace

void log_exact_batch(const double* x, double* y, std::size_t count)
{
    chosen()(x, y, count);
}

namespace log_exact_detail {

bool log_exact_path_available(Path path)
{
    __builtin_cpu_init();
    switch (path) {
    case Path::scalar:
        return true;
    case Path::avx2:
        return table().ok && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case Path::avx512:
        return table().ok && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("fma");
    }
    return false;
}

void log_exact_path(Path path, const double* x, double* y, std::size_t count)
{
    path_impl(path)(x, y, count);
}

std::size_t log_exact_fallbacks(const double* x, std::size_t count)
{
    switch (best_path()) {
    case Path::avx512:
        return fallbacks_avx512(x, count);
    case Path::avx2:
        return fallbacks_avx2(x, count);
    case Path::scalar:
        break;
    }
    return count;
}

}  // namespace log_exact_detail
