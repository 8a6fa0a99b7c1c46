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
};
