#pragma once

// Primitives of the avx512 level: the thin per-level layer every kernel
// algorithm is written over. Include only inside MORV_TARGET_AVX512 (after
// <immintrin.h>), as simd/kernels_<layer>_avx512.cpp files do.
struct Avx512 {
    static constexpr int width = 8;
    using V = __m512d;
    using Mask = __mmask8;
    static V load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V set1(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V div(V a, V b) { return _mm512_div_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }

    // Step sums and pair layout.
    // Lanes whose bit is set in Lanes take *p; the others keep v's value.
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p)
    {
        return _mm512_mask_broadcastsd_pd(v, Lanes & 255, _mm_load_sd(p));
    }
    // p[0], p[1] (p[0..3]) repeated across the lanes. (maskz forms here and
    // below: GCC 12 warns on the plain ones' undefined source.)
    static V broadcast_pair(const double* p) { return _mm512_maskz_broadcast_f64x2(0xFF, _mm_loadu_pd(p)); }
    static V broadcast_quad(const double* p) { return _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(p)); }
    // Lane j takes row[(Index >> 4j) & 15], of row[0..7].
    template <unsigned Index>
    static V permute_row(const double* row)
    {
        const __m512i index = _mm512_set_epi64(Index >> 28 & 15, Index >> 24 & 15, Index >> 20 & 15,
                                               Index >> 16 & 15, Index >> 12 & 15, Index >> 8 & 15,
                                               Index >> 4 & 15, Index & 15);
        return _mm512_maskz_permutexvar_pd(0xFF, index, _mm512_loadu_pd(row));
    }
    // The steps of a transpose: exchangeB leaves in a the low B lanes of each
    // 2B lanes of a, then those of b; in b the high ones.
    static void exchange1(V& a, V& b)
    {
        const V low = _mm512_maskz_unpacklo_pd(0xFF, a, b);
        b = _mm512_maskz_unpackhi_pd(0xFF, a, b);
        a = low;
    }
    static void exchange2(V& a, V& b)
    {
        const V low = _mm512_permutex2var_pd(a, _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0), b);
        b = _mm512_permutex2var_pd(a, _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2), b);
        a = low;
    }
    static void exchange4(V& a, V& b)
    {
        const V low = _mm512_maskz_shuffle_f64x2(0xFF, a, b, 0x44);
        b = _mm512_maskz_shuffle_f64x2(0xFF, a, b, 0xEE);
        a = low;
    }
};
