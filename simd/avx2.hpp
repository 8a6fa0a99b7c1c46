#pragma once

// Primitives of the avx2 level (see simd/avx512.hpp). Include only inside
// MORV_TARGET_AVX2, after <immintrin.h>.
struct Avx2 {
    static constexpr int width = 4;
    using V = __m256d;
    using Mask = __m256d;  // all-ones or all-zeros lanes
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V set1(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V div(V a, V b) { return _mm256_div_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }

    // Step sums and pair layout.
    // As in simd/avx512.hpp.
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p)
    {
        return _mm256_blend_pd(v, _mm256_broadcast_sd(p), Lanes & 15);
    }
    static V broadcast_pair(const double* p)
    {
        return _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(p));
    }
    static V broadcast_quad(const double* p) { return _mm256_loadu_pd(p); }
    // Each lane's index picks within a half of the row; its bit 2, the half.
    template <unsigned Index>
    static V permute_row(const double* row)
    {
        constexpr int within = (Index & 3) | (Index >> 2 & 12) | (Index >> 4 & 48) | (Index >> 6 & 192);
        constexpr int upper = (Index >> 2 & 1) | (Index >> 5 & 2) | (Index >> 8 & 4) | (Index >> 11 & 8);
        return _mm256_blend_pd(_mm256_permute4x64_pd(_mm256_loadu_pd(row), within),
                               _mm256_permute4x64_pd(_mm256_loadu_pd(row + 4), within), upper);
    }
    static void exchange1(V& a, V& b)
    {
        const V low = _mm256_unpacklo_pd(a, b);
        b = _mm256_unpackhi_pd(a, b);
        a = low;
    }
    static void exchange2(V& a, V& b)
    {
        const V low = _mm256_permute2f128_pd(a, b, 0x20);
        b = _mm256_permute2f128_pd(a, b, 0x31);
        a = low;
    }
};
