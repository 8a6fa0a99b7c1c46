#pragma once

// The pair layout's kernels (fast/pair_layout.hpp), written once over a
// level's primitives S and compiled per level in fast/kernels_<level>.cpp.

#include <cmath>
#include <cstddef>
#include <cstring>

#include "fast/pair_layout.hpp"
#include "simd/vector_types.hpp"

// x1, x2, z3 = x1 x2 and the class indicators (class 0: y0 = 1, class 1:
// y1 = 1, any other: neither) of samples 0..n-1, a vector at a time while
// whole vectors remain. Returns whether every x1, x2 and z3 is finite.
template <class S>
bool lay_out(const double* x1, const double* x2, const unsigned char* cls, const PairColumns& c)
{
    // The level's width of samples a step: their classes come as one load
    // of that many bytes, spread to the lanes by shifts.
    using V = Vec<S>;
    constexpr std::size_t W = kLanes<S>;
    using U = IntVec<S>;
    U byte = {};
    for (std::size_t j = 0; j < W; ++j)
        byte[j] = 8 * j;
    const V one = V{} + 1.0, zero = V{};
    double *ox1 = c.x1, *ox2 = c.x2, *oz3 = c.z3, *oy0 = c.y0, *oy1 = c.y1;  // the stores may alias c
    const std::size_t n = c.n;
    auto finite = one == one;
    std::size_t s = 0;
    for (; s + W <= n; s += W) {
        V a, b;
        load(a, x1 + s);
        load(b, x2 + s);
        const V z = a * b;
        store(ox1 + s, a);
        store(ox2 + s, b);
        store(oz3 + s, z);
        // x - x is 0 for a finite x and NaN otherwise.
        finite &= ((a - a) + (b - b)) + (z - z) == 0.0;
        unsigned long long bytes = 0;
        std::memcpy(&bytes, cls + s, W);
        const U k = (U{} + bytes) >> byte & 255;  // lane j: sample s + j's class
        store(oy0 + s, k == 0 ? one : zero);
        store(oy1 + s, k == 1 ? one : zero);
    }
    bool all = true;
    for (std::size_t j = 0; j < W; ++j)
        all = all && finite[j] != 0;
    for (; s < n; ++s) {
        const double a = x1[s], b = x2[s], z = a * b;
        ox1[s] = a;
        ox2[s] = b;
        oz3[s] = z;
        oy0[s] = cls[s] == 0 ? 1.0 : 0.0;
        oy1[s] = cls[s] == 1 ? 1.0 : 0.0;
        all = all && std::isfinite(a) && std::isfinite(b) && std::isfinite(z);
    }
    return all;
}

// Transposes the square block rows[0..width-1]: exchange step B swaps bit B
// of the row index with bit B of the lane index.
template <class S>
__attribute__((always_inline)) inline void transpose(typename S::V* rows)
{
    constexpr int w = S::width;
    if constexpr (w >= 2)
#pragma GCC unroll 4
        for (int r = 0; r < w; r += 2)
            S::exchange1(rows[r], rows[r + 1]);
    if constexpr (w >= 4)
#pragma GCC unroll 2
        for (int r = 0; r < w; r += 4) {
            S::exchange2(rows[r], rows[r + 2]);
            S::exchange2(rows[r + 1], rows[r + 3]);
        }
    if constexpr (w >= 8)
#pragma GCC unroll 4
        for (int r = 0; r < 4; ++r)
            S::exchange4(rows[r], rows[r + 4]);
}

// a and b interleaved: a becomes (a0, b0, a1, b1, ...), b the rest.
template <class S>
__attribute__((always_inline)) inline void interleave(typename S::V& a, typename S::V& b)
{
    if constexpr (S::width >= 2)
        S::exchange1(a, b);
    if constexpr (S::width >= 4)
        S::exchange2(a, b);
    if constexpr (S::width >= 8)
        S::exchange4(a, b);
}

// The products m and t (fast/pair_layout.hpp) of every padded sample: for a
// vector of samples the product columns are formed as vectors and
// transposed into the samples' rows. Same products, same roundings as one
// sample at a time. (The loops are unrolled so that the vectors stay in
// registers.)
template <class S>
void design_products(const PairColumns& c)
{
    using V = typename S::V;
    constexpr std::size_t w = S::width;
    const double *x1 = c.x1, *x2 = c.x2, *z3 = c.z3;  // locals: the stores may alias c
    double *m = c.m, *t = c.t;
    for (std::size_t s = 0, padded = c.padded; s < padded; s += w) {
        const V a = S::load(x1 + s), b = S::load(x2 + s), z = S::load(z3 + s);
        V col[8] = {S::set1(1.0), a, b, z, S::mul(a, a), S::mul(a, b), S::mul(b, b), S::mul(a, z)};
#pragma GCC unroll 8
        for (std::size_t g = 0; g < 8; g += w) {
            transpose<S>(col + g);
#pragma GCC unroll 8
            for (std::size_t r = 0; r < w; ++r)
                S::store(m + 8 * (s + r) + g, col[g + r]);
        }
        V bz = S::mul(b, z), zz = S::mul(z, z);
        interleave<S>(bz, zz);
        S::store(t + 2 * s, bz);
        S::store(t + 2 * s + w, zz);
    }
}
