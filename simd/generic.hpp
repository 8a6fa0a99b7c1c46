#pragma once

// Primitives of the generic level (see simd/avx512.hpp): baseline x86-64,
// one double per lane; fused multiply-add through the C library, exact but
// slow (this level only serves CPUs without AVX2, and the tests).
struct Generic {
    static constexpr int width = 1;
    using V = double;
    using Mask = bool;
    static V load(const double* p) { return *p; }
    static void store(double* p, V v) { *p = v; }
    static V set1(double x) { return x; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, V b) { return a * b; }
    static V div(V a, V b) { return a / b; }
    static V fma(V a, V b, V c) { return std::fma(a, b, c); }

    // Step sums and pair layout.
    // As in simd/avx512.hpp, for one lane: callers pass the lanes from their
    // first on (masks and indices shifted, pointers moved); a transpose has
    // no steps.
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p) { return Lanes & 1 ? *p : v; }
    static V broadcast_pair(const double* p) { return *p; }
    static V broadcast_quad(const double* p) { return *p; }
    template <unsigned Index>
    static V permute_row(const double* row) { return row[Index & 15]; }
};
