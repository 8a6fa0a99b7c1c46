#include "fast/interaction_fast.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <utility>

#include "exact/chi_squared_tail.hpp"
#include "exact/exp_batch.hpp"
#include "exact/log_exact.hpp"
#include "simd/vector_types.hpp"

namespace interaction_fast_detail {

// Rows are kStride doubles apart: one vector each.
constexpr std::size_t kStride = kMaxOrder;

// Pivot: the first row of largest |value| at or below the diagonal, found
// with u > t from t = 0 (so a column of zeros and NaNs keeps the diagonal).
// A zero pivot leaves its column unscaled, but the trailing block is still
// updated, as the library does. The update of a row is one vector
// operation: each entry right of the pivot column gets its own
// a - l * pivot-row entry; entries left of it and the multiplier keep theirs.
__attribute__((target_clones("avx512f", "avx2", "default")))
std::size_t lu_factor(double* a, std::size_t size, std::size_t* pivots)
{
    v8d lane;
    for (std::size_t c = 0; c < kStride; ++c)
        lane[c] = static_cast<double>(c);
    std::size_t singular = 0;
    for (std::size_t i = 0; i < size; ++i)
        pivots[i] = i;
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t best = i;
        double t = 0.0;
        for (std::size_t r = i; r < size; ++r) {
            const double u = std::fabs(a[r * kStride + i]);
            if (u > t) {
                best = r;
                t = u;
            }
        }
        if (a[best * kStride + i] != 0.0) {
            if (best != i) {
                pivots[i] = best;
                v8d x, y;
                load(x, a + i * kStride);
                load(y, a + best * kStride);
                store(a + i * kStride, y);
                store(a + best * kStride, x);
            }
            const double inv = 1.0 / a[i * kStride + i];
            for (std::size_t r = i + 1; r < size; ++r)
                a[r * kStride + i] *= inv;
        } else if (singular == 0) {
            singular = i + 1;
        }
        v8d pivotRow;
        load(pivotRow, a + i * kStride);
        const double column = static_cast<double>(i);
        for (std::size_t r = i + 1; r < size; ++r) {
            v8d row;
            load(row, a + r * kStride);
            const double l = row[i];
            const v8d updated = row - l * pivotRow;
            store(a + r * kStride, lane > column ? updated : row);
        }
    }
    return singular;
}

double lu_determinant(const double* lu, std::size_t size, const std::size_t* pivots)
{
    double det = 1.0;
    for (std::size_t i = 0; i < size; ++i) {
        double f = lu[i * kStride + i];
        if (pivots[i] != i)
            f = -f;
        det = f * det;
    }
    return det;
}

// Interchanges first, then the two triangular solves row by row, each row's
// sum from its own right-hand side in column order; the unit diagonal still
// divides (by 1.0), as the library's lower solve does.
void lu_solve(const double* lu, std::size_t size, const std::size_t* pivots, double* x)
{
    for (std::size_t i = 0; i < size; ++i)
        if (pivots[i] != i)
            std::swap(x[i], x[pivots[i]]);
    for (std::size_t r = 0; r < size; ++r) {
        double t = x[r];
        for (std::size_t c = 0; c < r; ++c)
            t -= lu[r * kStride + c] * x[c];
        x[r] = t / 1.0;
    }
    for (std::size_t r = size; r-- > 0;) {
        double t = x[r];
        for (std::size_t c = r + 1; c < size; ++c)
            t -= lu[r * kStride + c] * x[c];
        x[r] = t / lu[r * kStride + r];
    }
}

}  // namespace interaction_fast_detail

// The per-sample kernels. External linkage: target_clones needs it.
namespace interaction_fast_kernels {

// eta = ((0.0 + 1*b[0]) + x1*b[1]) + x2*b[2] (+ z3*b[3]) for both classes,
// over a length that is a multiple of 8.
__attribute__((target_clones("avx512f", "avx2", "default")))
void predictors(const double* x1, const double* x2, const double* z3, std::size_t padded,
                const double* beta, int p, double* eta0, double* eta1)
{
    const double* b0 = beta;
    const double* b1 = beta + p;
    const double t0 = 0.0 + 1.0 * b0[0];
    const double t1 = 0.0 + 1.0 * b1[0];
    for (std::size_t s = 0; s < padded; s += 8) {
        v8d a, b, c;
        load(a, x1 + s);
        load(b, x2 + s);
        v8d e0 = (t0 + a * b0[1]) + b * b0[2];
        v8d e1 = (t1 + a * b1[1]) + b * b1[2];
        if (p == 4) {
            load(c, z3 + s);
            e0 = e0 + c * b0[3];
            e1 = e1 + c * b1[3];
        }
        store(eta0 + s, e0);
        store(eta1 + s, e1);
    }
}

// The pair's columns in the workspace: x1, x2, z3 = x1 x2 and the class
// indicators, for 8 samples at a time. Returns how many samples it did (the
// whole blocks) and clears finite unless all of their x1, x2 and z3 are.
__attribute__((target("avx512f"))) std::size_t lay_out_avx512(
    const double* x1, const double* x2, const unsigned char* cls, std::size_t n, double* ox1,
    double* ox2, double* oz3, double* oy0, double* oy1, bool& finite)
{
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d zero = _mm512_setzero_pd();
    __mmask8 all = 0xFF;
    std::size_t s = 0;
    for (; s + 8 <= n; s += 8) {
        const __m512d a = _mm512_loadu_pd(x1 + s);
        const __m512d b = _mm512_loadu_pd(x2 + s);
        const __m512d c = _mm512_mul_pd(a, b);
        _mm512_store_pd(ox1 + s, a);
        _mm512_store_pd(ox2 + s, b);
        _mm512_store_pd(oz3 + s, c);
        // x - x is 0 for a finite x and NaN otherwise.
        const __m512d ab = _mm512_add_pd(_mm512_sub_pd(a, a), _mm512_sub_pd(b, b));
        all &= _mm512_cmp_pd_mask(_mm512_add_pd(ab, _mm512_sub_pd(c, c)), zero, _CMP_EQ_OQ);
        std::uint64_t bytes;
        std::memcpy(&bytes, cls + s, sizeof bytes);
        const __m512i k =
            _mm512_maskz_cvtepu8_epi64(0xFF, _mm_cvtsi64_si128(static_cast<long long>(bytes)));
        const __mmask8 first = _mm512_cmpeq_epi64_mask(k, _mm512_setzero_si512());
        const __mmask8 second = _mm512_cmpeq_epi64_mask(k, _mm512_set1_epi64(1));
        _mm512_store_pd(oy0 + s, _mm512_mask_blend_pd(first, zero, one));
        _mm512_store_pd(oy1 + s, _mm512_mask_blend_pd(second, zero, one));
    }
    finite = finite && all == 0xFF;
    return s;
}

// The design products of every sample (see step_sums): for 8 samples at a
// time the eight product columns are formed as vectors and transposed into
// the samples' rows. Same products, same roundings as one sample at a time.
// Returns how many samples it did: the whole blocks.
__attribute__((target("avx512f"))) std::size_t products_avx512(const double* x1, const double* x2,
                                                        const double* z3, std::size_t n,
                                                        double* m, double* t)
{
    std::size_t s = 0;
    for (; s + 8 <= n; s += 8) {
        const __m512d a = _mm512_load_pd(x1 + s);
        const __m512d b = _mm512_load_pd(x2 + s);
        const __m512d c = _mm512_load_pd(z3 + s);
        const __m512d col[8] = {_mm512_set1_pd(1.0),  a, b, c, _mm512_mul_pd(a, a),
                                _mm512_mul_pd(a, b), _mm512_mul_pd(b, b), _mm512_mul_pd(a, c)};
        // 8 x 8 transpose: pairs, then 128-bit quarters, then halves. (The
        // maskz forms: GCC 12 warns on the plain ones' undefined source.)
        constexpr __mmask8 all = 0xFF;
        __m512d p[8], q[8];
        for (std::size_t k = 0; k < 4; ++k) {
            p[2 * k] = _mm512_maskz_unpacklo_pd(all, col[2 * k], col[2 * k + 1]);
            p[2 * k + 1] = _mm512_maskz_unpackhi_pd(all, col[2 * k], col[2 * k + 1]);
        }
        for (std::size_t k = 0; k < 2; ++k)
            for (std::size_t j = 0; j < 2; ++j) {
                const __m512d u = p[4 * k + j], v = p[4 * k + 2 + j];
                q[4 * k + j] = _mm512_maskz_shuffle_f64x2(all, u, v, 0x88);
                q[4 * k + 2 + j] = _mm512_maskz_shuffle_f64x2(all, u, v, 0xDD);
            }
        // q[r] holds samples r and r + 4 of columns 0-3, q[4 + r] of 4-7.
        for (std::size_t r = 0; r < 4; ++r) {
            _mm512_store_pd(m + 8 * (s + r), _mm512_maskz_shuffle_f64x2(all, q[r], q[4 + r], 0x88));
            _mm512_store_pd(m + 8 * (s + r + 4),
                            _mm512_maskz_shuffle_f64x2(all, q[r], q[4 + r], 0xDD));
        }
        const __m512d bc = _mm512_mul_pd(b, c);
        const __m512d cc = _mm512_mul_pd(c, c);
        const __m512i first = _mm512_set_epi64(11, 3, 10, 2, 9, 1, 8, 0);
        const __m512i second = _mm512_set_epi64(15, 7, 14, 6, 13, 5, 12, 4);
        _mm512_storeu_pd(t + 2 * s, _mm512_permutex2var_pd(bc, first, cc));
        _mm512_storeu_pd(t + 2 * s + 8, _mm512_permutex2var_pd(bc, second, cc));
    }
    return s;
}

// What each sample's log-likelihood term is the logarithm of, from the
// exponentials of its predictors: with den = (e0 + 1) + e1, P0 = e0 / den and
// P1 = e1 / den, its class's probability, or (1 - P0) - P1 for class 2
// (y0 = y1 = 0). Where the term is the floor ln(1e-15) instead (a
// probability that is not positive or not a number; for class 2, P0 + P1
// not below 1), the argument is 1e-15 itself: the same logarithm, with no
// mask to carry. The pad entries are unread.
// The probabilities of classes 0 and 1 of samples s..s+7 from the
// exponentials of their predictors: e / ((e0 + 1) + e1).
__attribute__((always_inline)) inline void class_probabilities(const double* e0, const double* e1,
                                                             std::size_t s, v8d& p0, v8d& p1)
{
    v8d x0, x1;
    load(x0, e0 + s);
    load(x1, e1 + s);
    const v8d den = (x0 + 1.0) + x1;
    p0 = x0 / den;
    p1 = x1 / den;
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void log_arguments(const double* e0, const double* e1, const double* y0, const double* y1,
                   std::size_t padded, double* arg)
{
    const v8d floor = {1e-15, 1e-15, 1e-15, 1e-15, 1e-15, 1e-15, 1e-15, 1e-15};
    for (std::size_t s = 0; s < padded; s += 8) {
        v8d a, b, c0, c1;
        class_probabilities(e0, e1, s, a, b);
        load(c0, y0 + s);
        load(c1, y1 + s);
        const v8d rest = (1.0 - a) - b;
        const v8d two = (a + b < 1.0) ? rest : floor;
        const v8d one = (b > 0) ? b : floor;
        const v8d zero = (a > 0) ? a : floor;
        store(arg + s, c0 != 0 ? zero : (c1 != 0 ? one : two));
    }
}

// One Newton step's score and Hessian sums, from the exponentials of the
// predictors. Per block of 8 samples the probabilities and the weights each
// sample enters the sums with (fa = (P0-1)P0, fb = P0 P1, fc = (P1-1)P1,
// d0 = y0 - P0, d1 = y1 - P1) are formed side by side; then the samples are
// added one at a time, in order, each lane one running sum: exactly the
// scalar accumulation of one Hessian or score entry. Fusing the two keeps
// the divider busy while the sums run.
//
// m holds 8 products per sample, (1, x1, x2, z, x1x1, x1x2, x2x2, x1z) with
// z = x1 x2; t the two more of the full design, (x2z, zz).
// out: 40 lanes, the products times fa (H00), times fb (H01), times fc
// (H11); then (x2z, zz) times fa, fb and fc (full design only; lanes 30-31
// unused); then the design row (the first four products) times d0 (g0) and
// times d1 (g1).
template <bool Full>
__attribute__((always_inline)) inline void step_sums_generic(const double* e0, const double* e1,
                                                           const double* y0, const double* y1,
                                                           const double* m, const double* t,
                                                           std::size_t n, double* out)
{
    v8d h00{}, h01{}, h11{}, tail{}, g{};
    alignas(64) double w[5][8];
    for (std::size_t s = 0; s < n; s += 8) {
        v8d q0, q1, c0, c1;
        class_probabilities(e0, e1, s, q0, q1);
        load(c0, y0 + s);
        load(c1, y1 + s);
        store(w[0], (q0 - 1.0) * q0);
        store(w[1], q0 * q1);
        store(w[2], (q1 - 1.0) * q1);
        store(w[3], c0 - q0);
        store(w[4], c1 - q1);
        const std::size_t block = n - s < 8 ? n - s : 8;
        for (std::size_t i = 0; i < block; ++i) {
            const double fa = w[0][i], fb = w[1][i], fc = w[2][i], d0 = w[3][i], d1 = w[4][i];
            const double* row = m + 8 * (s + i);
            v8d u;
            load(u, row);
            h00 += fa * u;
            h01 += fb * u;
            h11 += fc * u;
            if (Full) {
                const double* tr = t + 2 * (s + i);
                const v8d tt = {tr[0], tr[1], tr[0], tr[1], tr[0], tr[1], 0.0, 0.0};
                const v8d wt = {fa, fa, fb, fb, fc, fc, 0.0, 0.0};
                tail += wt * tt;
            }
            const v8d x = {row[0], row[1], row[2], row[3], row[0], row[1], row[2], row[3]};
            const v8d wg = {d0, d0, d0, d0, d1, d1, d1, d1};
            g += wg * x;
        }
    }
    store(out, h00);
    store(out + 8, h01);
    store(out + 16, h11);
    store(out + 24, tail);
    store(out + 32, g);
}

void step_sums_portable(const double* e0, const double* e1, const double* y0, const double* y1,
                        const double* m, const double* t, std::size_t n, bool full, double* out)
{
    if (full)
        step_sums_generic<true>(e0, e1, y0, y1, m, t, n, out);
    else
        step_sums_generic<false>(e0, e1, y0, y1, m, t, n, out);
}

// The weights of samples s..s+7: fa, fb, fc, d0 and d1 (see step_sums).
__attribute__((target("avx512f"), always_inline)) inline void step_weights_avx512(
    const double* e0, const double* e1, const double* y0, const double* y1, std::size_t s,
    double (*w)[8])
{
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d x0 = _mm512_loadu_pd(e0 + s);
    const __m512d x1 = _mm512_loadu_pd(e1 + s);
    const __m512d den = _mm512_add_pd(_mm512_add_pd(x0, one), x1);
    const __m512d q0 = _mm512_div_pd(x0, den);
    const __m512d q1 = _mm512_div_pd(x1, den);
    _mm512_store_pd(w[0], _mm512_mul_pd(_mm512_sub_pd(q0, one), q0));
    _mm512_store_pd(w[1], _mm512_mul_pd(q0, q1));
    _mm512_store_pd(w[2], _mm512_mul_pd(_mm512_sub_pd(q1, one), q1));
    _mm512_store_pd(w[3], _mm512_sub_pd(_mm512_loadu_pd(y0 + s), q0));
    _mm512_store_pd(w[4], _mm512_sub_pd(_mm512_loadu_pd(y1 + s), q1));
}

// Runs add(w, i, sample) for samples 0..n-1 in order, w holding the weights
// of the sample's block of 8 and i its place there. The next block's
// weights are formed before this block's samples are added, so their
// divisions run while the additions do; the loop over a block is unrolled,
// so a block's end costs no mispredicted branch.
template <class Add>
__attribute__((target("avx512f"), always_inline)) inline void for_each_weighted_sample(
    const double* e0, const double* e1, const double* y0, const double* y1, std::size_t n,
    Add& add)
{
    alignas(64) double weights[2][5][8];
    if (n > 0)
        step_weights_avx512(e0, e1, y0, y1, 0, weights[0]);
    for (std::size_t s = 0; s < n; s += 8) {
        double(*w)[8] = weights[s / 8 % 2];
        if (s + 8 < n)
            step_weights_avx512(e0, e1, y0, y1, s + 8, weights[(s / 8 + 1) % 2]);
        const std::size_t block = n - s < 8 ? n - s : 8;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < 8; ++i) {
            if (i >= block)
                break;
            add(w, i, s + i);
        }
    }
}

// The common layout's lanes with AVX-512 broadcasts and masked blends in
// place of the generic vector constructors, which compile to chains of
// inserts.
template <bool Full>
struct FullDesignSums {
    const double* m;
    const double* t;
    __m512d h00, h01, h11, tail, g;

    __attribute__((target("avx512f"), always_inline)) void operator()(double (*w)[8],
                                                                       std::size_t i,
                                                                       std::size_t sample)
    {
        const double* row = m + 8 * sample;
        const __m512d u = _mm512_loadu_pd(row);
        const __m512d fa = _mm512_set1_pd(w[0][i]);
        h00 = _mm512_add_pd(h00, _mm512_mul_pd(fa, u));
        h01 = _mm512_add_pd(h01, _mm512_mul_pd(_mm512_set1_pd(w[1][i]), u));
        h11 = _mm512_add_pd(h11, _mm512_mul_pd(_mm512_set1_pd(w[2][i]), u));
        if (Full) {
            // (fa, fa, fb, fb, fc, fc, fa, fa) times (x2z, zz) four times.
            __m512d wt = _mm512_mask_broadcastsd_pd(fa, 0x0C, _mm_load_sd(&w[1][i]));
            wt = _mm512_mask_broadcastsd_pd(wt, 0x30, _mm_load_sd(&w[2][i]));
            // maskz forms: GCC 12 warns on the plain ones' undefined source.
            const __m512d tt = _mm512_castps_pd(
                _mm512_maskz_broadcast_f32x4(0xFFFF, _mm_castpd_ps(_mm_loadu_pd(t + 2 * sample))));
            tail = _mm512_add_pd(tail, _mm512_mul_pd(wt, tt));
        }
        const __m512d wg =
            _mm512_mask_broadcastsd_pd(_mm512_set1_pd(w[3][i]), 0xF0, _mm_load_sd(&w[4][i]));
        const __m512d x = _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(row));
        g = _mm512_add_pd(g, _mm512_mul_pd(wg, x));
    }
};

template <bool Full>
__attribute__((target("avx512f"), always_inline)) inline void step_sums_avx512_impl(
    const double* e0, const double* e1, const double* y0, const double* y1, const double* m,
    const double* t, std::size_t n, double* out)
{
    const __m512d zero = _mm512_setzero_pd();
    FullDesignSums<Full> add{m, t, zero, zero, zero, zero, zero};
    for_each_weighted_sample(e0, e1, y0, y1, n, add);
    _mm512_storeu_pd(out, add.h00);
    _mm512_storeu_pd(out + 8, add.h01);
    _mm512_storeu_pd(out + 16, add.h11);
    _mm512_storeu_pd(out + 24, add.tail);
    _mm512_storeu_pd(out + 32, add.g);
}

// The reduced design's 24 sums packed into three vectors instead of four:
//   fa (1, x1, x2, x1x1, x1x2, x2x2) | fb (1, x1)
//   fb (x2, x1x1, x1x2, x2x2)        | fc (1, x1, x2, x1x1)
//   fc (x1x2, x2x2) | d0 (1, x1, x2)  | d1 (1, x1, x2)
// The rearranged products and mixed weights come from permutes and blends,
// which issue beside the arithmetic; the arithmetic itself drops by a
// quarter.
struct ReducedDesignSums {
    const double* m;
    __m512i p1, p2, p3;
    __m512d v1, v2, v3;

    __attribute__((target("avx512f"), always_inline)) void operator()(double (*w)[8],
                                                                       std::size_t i,
                                                                       std::size_t sample)
    {
        const __m512d u = _mm512_loadu_pd(m + 8 * sample);
        const __m512d fa = _mm512_set1_pd(w[0][i]);
        const __m512d fb = _mm512_set1_pd(w[1][i]);
        const __m512d fc = _mm512_set1_pd(w[2][i]);
        const __m512d w1 = _mm512_mask_blend_pd(0xC0, fa, fb);
        const __m512d w2 = _mm512_mask_blend_pd(0xF0, fb, fc);
        const __m512d w3 = _mm512_mask_blend_pd(
            0xE0, _mm512_mask_blend_pd(0x1C, fc, _mm512_set1_pd(w[3][i])), _mm512_set1_pd(w[4][i]));
        v1 = _mm512_add_pd(v1, _mm512_mul_pd(w1, _mm512_maskz_permutexvar_pd(0xFF, p1, u)));
        v2 = _mm512_add_pd(v2, _mm512_mul_pd(w2, _mm512_maskz_permutexvar_pd(0xFF, p2, u)));
        v3 = _mm512_add_pd(v3, _mm512_mul_pd(w3, _mm512_maskz_permutexvar_pd(0xFF, p3, u)));
    }
};

// The lanes are spread back to the common layout at the end (the full
// design's extra products left 0).
__attribute__((target("avx512f"), always_inline)) inline void step_sums_reduced_avx512(
    const double* e0, const double* e1, const double* y0, const double* y1, const double* m,
    std::size_t n, double* out)
{
    const __m512d zero = _mm512_setzero_pd();
    ReducedDesignSums add{m,
                          _mm512_set_epi64(1, 0, 6, 5, 4, 2, 1, 0),
                          _mm512_set_epi64(4, 2, 1, 0, 6, 5, 4, 2),
                          _mm512_set_epi64(2, 1, 0, 2, 1, 0, 6, 5),
                          zero,
                          zero,
                          zero};
    for_each_weighted_sample(e0, e1, y0, y1, n, add);
    alignas(64) double packed[24];
    _mm512_store_pd(packed, add.v1);
    _mm512_store_pd(packed + 8, add.v2);
    _mm512_store_pd(packed + 16, add.v3);
    // Packed: each block's six sums in turn, then g0's three and g1's.
    const int products[6] = {0, 1, 2, 4, 5, 6};  // their lanes in the common layout
    for (int k = 0; k < 40; ++k)
        out[k] = 0.0;
    for (int block = 0; block < 3; ++block)
        for (int k = 0; k < 6; ++k)
            out[8 * block + products[k]] = packed[6 * block + k];
    for (int j = 0; j < 3; ++j) {
        out[32 + j] = packed[18 + j];
        out[36 + j] = packed[21 + j];
    }
}

__attribute__((target("avx512f"))) void step_sums_avx512(const double* e0, const double* e1,
                                                        const double* y0, const double* y1,
                                                        const double* m, const double* t,
                                                        std::size_t n, bool full, double* out)
{
    if (full)
        step_sums_avx512_impl<true>(e0, e1, y0, y1, m, t, n, out);
    else
        step_sums_reduced_avx512(e0, e1, y0, y1, m, n, out);
}

// The same lanes with AVX2 intrinsics, two 4-lane halves per 8-lane sum.
template <bool Full>
__attribute__((target("avx2"), always_inline)) inline void step_sums_avx2_impl(
    const double* e0, const double* e1, const double* y0, const double* y1, const double* m,
    const double* t, std::size_t n, double* out)
{
    __m256d h00a = _mm256_setzero_pd(), h00b = h00a, h01a = h00a, h01b = h00a, h11a = h00a,
            h11b = h00a, tailab = h00a, g0 = h00a, g1 = h00a;
    __m128d tailc = _mm_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    alignas(64) double w[5][8];
    for (std::size_t s = 0; s < n; s += 8) {
        for (std::size_t h = 0; h < 8; h += 4) {
            const __m256d x0 = _mm256_loadu_pd(e0 + s + h);
            const __m256d x1 = _mm256_loadu_pd(e1 + s + h);
            const __m256d den = _mm256_add_pd(_mm256_add_pd(x0, one), x1);
            const __m256d q0 = _mm256_div_pd(x0, den);
            const __m256d q1 = _mm256_div_pd(x1, den);
            _mm256_store_pd(w[0] + h, _mm256_mul_pd(_mm256_sub_pd(q0, one), q0));
            _mm256_store_pd(w[1] + h, _mm256_mul_pd(q0, q1));
            _mm256_store_pd(w[2] + h, _mm256_mul_pd(_mm256_sub_pd(q1, one), q1));
            _mm256_store_pd(w[3] + h, _mm256_sub_pd(_mm256_loadu_pd(y0 + s + h), q0));
            _mm256_store_pd(w[4] + h, _mm256_sub_pd(_mm256_loadu_pd(y1 + s + h), q1));
        }
        const std::size_t block = n - s < 8 ? n - s : 8;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < 8; ++i) {
            if (i >= block)
                break;
            const double* row = m + 8 * (s + i);
            const __m256d u0 = _mm256_loadu_pd(row);
            const __m256d u1 = _mm256_loadu_pd(row + 4);
            const __m256d fa = _mm256_broadcast_sd(&w[0][i]);
            const __m256d fb = _mm256_broadcast_sd(&w[1][i]);
            const __m256d fc = _mm256_broadcast_sd(&w[2][i]);
            h00a = _mm256_add_pd(h00a, _mm256_mul_pd(fa, u0));
            h00b = _mm256_add_pd(h00b, _mm256_mul_pd(fa, u1));
            h01a = _mm256_add_pd(h01a, _mm256_mul_pd(fb, u0));
            h01b = _mm256_add_pd(h01b, _mm256_mul_pd(fb, u1));
            h11a = _mm256_add_pd(h11a, _mm256_mul_pd(fc, u0));
            h11b = _mm256_add_pd(h11b, _mm256_mul_pd(fc, u1));
            if (Full) {
                // (fa, fa, fb, fb) and (fc, fc) times (x2z, zz).
                const double* tr = t + 2 * (s + i);
                const __m128d tt = _mm_loadu_pd(tr);
                const __m256d tt2 = _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(tr));
                tailab = _mm256_add_pd(tailab, _mm256_mul_pd(_mm256_blend_pd(fa, fb, 0xC), tt2));
                tailc = _mm_add_pd(tailc, _mm_mul_pd(_mm256_castpd256_pd128(fc), tt));
            }
            g0 = _mm256_add_pd(g0, _mm256_mul_pd(_mm256_broadcast_sd(&w[3][i]), u0));
            g1 = _mm256_add_pd(g1, _mm256_mul_pd(_mm256_broadcast_sd(&w[4][i]), u0));
        }
    }
    _mm256_storeu_pd(out, h00a);
    _mm256_storeu_pd(out + 4, h00b);
    _mm256_storeu_pd(out + 8, h01a);
    _mm256_storeu_pd(out + 12, h01b);
    _mm256_storeu_pd(out + 16, h11a);
    _mm256_storeu_pd(out + 20, h11b);
    _mm256_storeu_pd(out + 24, tailab);
    _mm_storeu_pd(out + 28, tailc);
    _mm_storeu_pd(out + 30, _mm_setzero_pd());
    _mm256_storeu_pd(out + 32, g0);
    _mm256_storeu_pd(out + 36, g1);
}

__attribute__((target("avx2"))) void step_sums_avx2(const double* e0, const double* e1,
                                                   const double* y0, const double* y1,
                                                   const double* m, const double* t,
                                                   std::size_t n, bool full, double* out)
{
    if (full)
        step_sums_avx2_impl<true>(e0, e1, y0, y1, m, t, n, out);
    else
        step_sums_avx2_impl<false>(e0, e1, y0, y1, m, t, n, out);
}

}  // namespace interaction_fast_kernels

namespace kernels = interaction_fast_kernels;

namespace interaction_fast_detail {

bool step_sums_available(StepPath path)
{
    switch (path) {
    case StepPath::avx512:
        return __builtin_cpu_supports("avx512f");
    case StepPath::avx2:
        return __builtin_cpu_supports("avx2");
    case StepPath::portable:
        break;
    }
    return true;
}

bool products_best()
{
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    return avx512;
}

void products(bool vectorised, const double* x1, const double* x2, const double* z3,
              std::size_t n, double* m, double* t)
{
    const std::size_t done = vectorised ? kernels::products_avx512(x1, x2, z3, n, m, t) : 0;
    for (std::size_t s = done; s < n; ++s) {
        const double a = x1[s], b = x2[s], c = z3[s];
        double* row = m + 8 * s;
        row[0] = 1.0 * 1.0;
        row[1] = 1.0 * a;
        row[2] = 1.0 * b;
        row[3] = 1.0 * c;
        row[4] = a * a;
        row[5] = a * b;
        row[6] = b * b;
        row[7] = a * c;
        t[2 * s] = b * c;
        t[2 * s + 1] = c * c;
    }
}

StepPath step_sums_best()
{
    static const StepPath best = step_sums_available(StepPath::avx512) ? StepPath::avx512
                                 : step_sums_available(StepPath::avx2) ? StepPath::avx2
                                                                       : StepPath::portable;
    return best;
}

void step_sums(StepPath path, const double* e0, const double* e1, const double* y0,
               const double* y1, const double* m, const double* t, std::size_t n, bool full,
               double* out)
{
    switch (path) {
    case StepPath::avx512:
        kernels::step_sums_avx512(e0, e1, y0, y1, m, t, n, full, out);
        return;
    case StepPath::avx2:
        kernels::step_sums_avx2(e0, e1, y0, y1, m, t, n, full, out);
        return;
    case StepPath::portable:
        break;
    }
    kernels::step_sums_portable(e0, e1, y0, y1, m, t, n, full, out);
}

}  // namespace interaction_fast_detail

namespace {

using namespace interaction_fast_detail;

// Per-sample arrays carved from the workspace, each padded to a multiple of 8
// samples so the kernels run whole vectors; pad entries are never read back.
struct Samples {
    std::size_t n = 0;
    std::size_t padded = 0;
    const unsigned char* cls = nullptr;
    double *x1, *x2, *z3, *y0, *y1, *e0, *e1, *term, *termR;
    double* m;  // 8 products per sample
    double* t;  // 2 more per sample
};

constexpr std::size_t kColumns = 9;  // the length-n arrays above
constexpr std::size_t kProductLanes = 10;

std::size_t padded_length(std::size_t n)
{
    return (n + 7) / 8 * 8;
}

// The arrays of the pair prepared in ws.
Samples view(InteractionWorkspace& ws)
{
    Samples S;
    S.n = ws.n;
    S.padded = padded_length(ws.n);
    S.cls = ws.cls;
    double* next = ws.store.get();
    // e0 and e1 adjacent (see exponentials).
    double** columns[kColumns] = {&S.x1, &S.x2, &S.z3, &S.y0, &S.y1,
                                  &S.e0, &S.e1, &S.term, &S.termR};
    for (double** c : columns) {
        *c = next;
        next += S.padded;
    }
    S.m = next;
    S.t = next + 8 * S.padded;
    return S;
}

// The products x_j x_l of the designs (1, x1, x2) and (1, x1, x2, x1*x2)
// depend on the data only: formed once per pair, not once per step. The
// first four, 1*1, 1*x1, 1*x2 and 1*x1x2, are also the design row itself.
void form_products(const Samples& S)
{
    products(products_best(), S.x1, S.x2, S.z3, S.n, S.m, S.t);
}

// exp of both predictors at beta, over the padded length (whole vectors; the
// pad entries are unread). Predictors of 500 and above, and NaN, are capped
// at 500; exp_batch_capped gives std::exp's values bit for bit.
void exponentials(const Samples& S, int p, const double* beta)
{
    kernels::predictors(S.x1, S.x2, S.z3, S.padded, beta, p, S.e0, S.e1);
    // e1 follows e0 in the workspace: one batch for both.
    exp_batch_capped(S.e0, S.e0, 2 * S.padded, 500.0);
}

// The log-likelihood's terms, in sample order, at the exponentials in S.
void log_terms(const Samples& S, double* term)
{
    kernels::log_arguments(S.e0, S.e1, S.y0, S.y1, S.padded, term);
    log_exact_batch(term, term, S.n);
}

// Index of the product x_j x_l among the ten.
constexpr int kProduct[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 7}, {2, 5, 6, 8}, {3, 7, 8, 9}};

// The running sums of one Newton step, laid out as step_sums leaves them.
struct Sums {
    double lane[40];
};

// Sums of the score and Hessian at the exponentials last formed in S.
void accumulate(const Samples& S, int p, Sums& sums)
{
    step_sums(step_sums_best(), S.e0, S.e1, S.y0, S.y1, S.m, S.t, S.n, p == 4, sums.lane);
}

// Hessian block (0: H00, 1: H01, 2: H11), entry of product k.
double hessian_sum(const Sums& sums, int block, int k)
{
    return k < 8 ? sums.lane[8 * block + k] : sums.lane[24 + 2 * block + (k - 8)];
}

// Score g (2p) and Hessian H (2p x 2p, rows kMaxOrder apart) from the sums.
// All blocks are symmetric, H10 being H01 transposed.
void score_hessian(const Sums& sums, int p, double* g, double* H)
{
    constexpr int q = static_cast<int>(kMaxOrder);
    for (int j = 0; j < p; ++j) {
        g[j] = sums.lane[32 + j];
        g[p + j] = sums.lane[36 + j];
        for (int l = 0; l < p; ++l) {
            const int k = kProduct[j][l];
            H[j * q + l] = hessian_sum(sums, 0, k);
            H[j * q + p + l] = hessian_sum(sums, 1, k);
            H[(p + j) * q + l] = hessian_sum(sums, 1, k);
            H[(p + j) * q + p + l] = hessian_sum(sums, 2, k);
        }
    }
}

// Both fits start from beta = 0. For finite data every predictor of either
// design is +0 there (x * 0 is +-0, and 0 + -0 is +0), so the exponentials
// are 1.0, the probabilities the same, and the reduced design's sums are the
// same lanes of the full design's, added in the same order: the first
// step's sums are formed once for both. (With non-finite data a predictor
// may be NaN in one design only, e.g. where x1 x2 overflows; each fit then
// takes its own start.)
struct Start {
    Sums sums;
    bool current = true;  // the exponentials in S are still those at 0
};

// The Newton-Raphson fit from beta = 0 in place. Returns true when the
// exponentials in S are those at the returned beta (the fit stopped on the
// determinant or the solve), so they need not be recomputed.
bool newton_fit(const Samples& S, int p, double* beta, const Start& start)
{
    const std::size_t q = 2 * static_cast<std::size_t>(p);
    const double tolerance = 0.06 * static_cast<double>(static_cast<unsigned>(p));
    double bnew[kMaxOrder] = {}, bold[kMaxOrder] = {};
    bool current = false;
    int steps = 0;
    for (;;) {
        for (std::size_t k = 0; k < q; ++k)
            bold[k] = bnew[k];
        Sums fresh;
        const Sums* sums = &start.sums;
        if (steps > 0) {
            exponentials(S, p, bold);
            accumulate(S, p, fresh);
            sums = &fresh;
        }
        double g[kMaxOrder];
        alignas(64) double H[kMaxOrder * kMaxOrder] = {};
        score_hessian(*sums, p, g, H);

        // The determinant and the solve factorise the same matrix the same
        // way: one factorisation serves both.
        std::size_t pivots[kMaxOrder];
        const std::size_t singular = lu_factor(H, q, pivots);
        const double det = lu_determinant(H, q, pivots);
        if (det < 1e-15 || std::isnan(det) || singular != 0) {
            current = steps > 0 || start.current;
            break;
        }
        lu_solve(H, q, pivots, g);
        for (std::size_t k = 0; k < q; ++k)
            bnew[k] = bold[k] - g[k];
        ++steps;

        double s = 0.0;
        for (std::size_t k = 0; k < q; ++k) {
            const double d = bnew[k] - bold[k];
            s += d * d;
        }
        if (s <= tolerance || std::isnan(s) || steps == 11)
            break;
    }
    for (std::size_t k = 0; k < q; ++k)
        beta[k] = bnew[k];
    return current;
}

// The fitted model's log-likelihood terms.
void fitted_terms(const Samples& S, int p, const Start& start, double* term)
{
    double beta[kMaxOrder] = {};
    if (!newton_fit(S, p, beta, start))
        exponentials(S, p, beta);
    log_terms(S, term);
}

}  // namespace

void prepare_pair(const double* x1, const double* x2, const unsigned char* cls, std::size_t n,
                  InteractionWorkspace& ws)
{
    const std::size_t padded = padded_length(n);
    const std::size_t need = padded * (kColumns + kProductLanes);
    if (ws.capacity < need) {
        ws.store = aligned_doubles(need);
        ws.capacity = need;
    }
    ws.n = n;
    ws.cls = cls;
    const Samples S = view(ws);
    bool finite = true;
    const std::size_t done =
        products_best()
            ? kernels::lay_out_avx512(x1, x2, cls, n, S.x1, S.x2, S.z3, S.y0, S.y1, finite)
            : 0;
    for (std::size_t s = done; s < n; ++s) {
        const double a = x1[s], b = x2[s], c = a * b;
        S.x1[s] = a;
        S.x2[s] = b;
        S.z3[s] = c;
        S.y0[s] = cls[s] == 0 ? 1.0 : 0.0;
        S.y1[s] = cls[s] == 1 ? 1.0 : 0.0;
        if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c))
            finite = false;
    }
    ws.all_finite = finite;
    for (std::size_t s = n; s < padded; ++s)
        S.x1[s] = S.x2[s] = S.z3[s] = S.y0[s] = S.y1[s] = 0.0;
}

double lda_log_likelihood_fast(InteractionWorkspace& ws, const double* beta)
{
    const Samples S = view(ws);
    exponentials(S, 3, beta);
    log_terms(S, S.term);
    double ll = 0.0;
    for (std::size_t s = 0; s < S.n; ++s)
        ll += S.term[s];
    return ll;
}

double interaction_test_fast(InteractionWorkspace& ws, double& llR, double& llF, double& stat)
{
    const Samples S = view(ws);
    form_products(S);
    Start start;
    if (ws.all_finite) {
        const v8d one = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
        for (std::size_t s = 0; s < S.padded; s += 8) {
            store(S.e0 + s, one);
            store(S.e1 + s, one);
        }
        accumulate(S, 4, start.sums);
        fitted_terms(S, 3, start, S.termR);
        start.current = false;  // the reduced fit moved on from 0
    } else {
        const double zero[kMaxOrder] = {};
        Start reduced;
        exponentials(S, 3, zero);
        accumulate(S, 3, reduced.sums);
        fitted_terms(S, 3, reduced, S.termR);
        exponentials(S, 4, zero);
        accumulate(S, 4, start.sums);
    }
    fitted_terms(S, 4, start, S.term);
    // Both sums in sample order, side by side: two chains of additions
    // overlap where one after the other would wait on each addition.
    double reducedSum = 0.0, fullSum = 0.0;
    for (std::size_t s = 0; s < S.n; ++s) {
        reducedSum += S.termR[s];
        fullSum += S.term[s];
    }
    llR = reducedSum;
    llF = fullSum;
    stat = (llF - llR) + (llF - llR);
    if (!(stat > 0))
        return 1.0;
    return chi_squared_tail2(stat);
}

double interaction_test_fast(const double* x1, const double* x2, const unsigned char* cls,
                             std::size_t n, InteractionWorkspace& ws, double& llR, double& llF,
                             double& stat)
{
    prepare_pair(x1, x2, cls, n, ws);
    return interaction_test_fast(ws, llR, llF, stat);
}
