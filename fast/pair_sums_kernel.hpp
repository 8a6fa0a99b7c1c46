#pragma once

// The MC test's sums (fast/pair_sums.hpp), written once and compiled per
// level in fast/kernels_<level>.cpp: GCC vectors, each lane the plain IEEE
// operation, so the level changes only the instructions.

#include <cstddef>

#include "fast/pair_sums.hpp"
#include "simd/vector_types.hpp"

// The cross sums' register blocking at the level of S: kCrossRows genes
// against kCrossVectors vectors of partners at a time, so that the
// accumulators take half the vector registers and the partners, the
// broadcast gene value and the loop the rest. AVX-512: 8 x 2 vectors of 8
// (the whole block against a panel in one pass); AVX2: 4 x 2 of 4; generic:
// 4 x 2 of 2.
template <class S>
constexpr std::size_t kCrossVectors = 2;
template <class S>
constexpr std::size_t kCrossRows =
    static_cast<std::size_t>(S::registers) / 2 / kCrossVectors<S> < kRowBlock
        ? static_cast<std::size_t>(S::registers) / 2 / kCrossVectors<S>
        : kRowBlock;

// For the kRowBlock genes row0 .. row0+7 and every gene of the panels
// p0 .. p1-1:
//   out[r * outStride + c] = sum over s in [s0, s1), in order, of T(s, row0+r) * T(s, c)
// where T is the paneled table P of `samples` samples. row0 is a multiple of
// kRowBlock. Each lane is one pair's running sum, fed in sample order, so
// every lane's value equals the plain scalar loop's whatever the blocking.
template <class S>
void cross_sums_block(const double* P, std::size_t samples, std::size_t s0, std::size_t s1,
                      std::size_t row0, std::size_t p0, std::size_t p1, double* out,
                      std::size_t outStride)
{
    using V = Vec<S>;
    constexpr std::size_t W = kLanes<S>, R = kCrossRows<S>, C = kCrossVectors<S>;
    static_assert(kRowBlock % R == 0 && kPanel % (C * W) == 0, "the blocking tiles the block and the panel");
    const double* rows = P + (row0 / kPanel) * samples * kPanel + row0 % kPanel;
    for (std::size_t p = p0; p < p1; ++p) {
        const double* panel = P + p * samples * kPanel;
        for (std::size_t r0 = 0; r0 < kRowBlock; r0 += R)
            for (std::size_t c0 = 0; c0 < kPanel; c0 += C * W) {
                V acc[R][C];
                for (std::size_t r = 0; r < R; ++r)
                    for (std::size_t c = 0; c < C; ++c)
                        acc[r][c] = V{};
                for (std::size_t s = s0; s < s1; ++s) {
                    V b[C];
                    for (std::size_t c = 0; c < C; ++c)
                        load(b[c], panel + s * kPanel + c0 + c * W);
                    const double* a = rows + s * kPanel + r0;
#pragma GCC unroll 8
                    for (std::size_t r = 0; r < R; ++r)
                        for (std::size_t c = 0; c < C; ++c)
                            acc[r][c] += a[r] * b[c];
                }
                double* o = out + p * kPanel + c0;
                for (std::size_t r = 0; r < R; ++r)
                    for (std::size_t c = 0; c < C; ++c)
                        store(o + (r0 + r) * outStride + c * W, acc[r][c]);
            }
    }
}

// Per gene of the paneled table, over samples [s0, s1) in order:
// sums[g] += T(s, g) and squares[g] += T(s, g) * T(s, g), for every gene of
// the `panels` panels.
template <class S>
void column_sums(const double* P, std::size_t samples, std::size_t s0, std::size_t s1,
                 std::size_t panels, double* sums, double* squares)
{
    for (std::size_t p = 0; p < panels; ++p) {
        const double* panel = P + p * samples * kPanel;
        double* sum = sums + p * kPanel;
        double* sq = squares + p * kPanel;
        for (std::size_t s = s0; s < s1; ++s) {
            const double* x = panel + s * kPanel;
            for (std::size_t j = 0; j < kPanel; ++j) {
                sum[j] += x[j];
                sq[j] += x[j] * x[j];
            }
        }
    }
}
