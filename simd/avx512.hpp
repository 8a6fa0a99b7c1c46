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
};
