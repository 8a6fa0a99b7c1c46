#pragma once

// The MC test's sums (fast/pair_sums.hpp), written once and compiled per
// level in fast/kernels_<level>.cpp: GCC vectors, each lane the plain IEEE
// operation, so the level changes only the instructions.

#include <cstddef>

#include "fast/pair_sums.hpp"
#include "simd/vector_types.hpp"

// For the kRowBlock genes row0 .. row0+7 and every gene of the panels
// p0 .. p1-1:
//   out[r * outStride + c] = sum over s in [s0, s1), in order, of T(s, row0+r) * T(s, c)
// where T is the paneled table P of `samples` samples. row0 is a multiple of
// kRowBlock. Eight genes against one panel of sixteen partners at a time: 16
// accumulators of eight lanes fill the AVX-512 register file; each lane is
// one pair's running sum, fed in sample order, so every lane's value equals
// the plain scalar loop's.
template <class S>
void cross_sums_block(const double* P, std::size_t samples, std::size_t s0, std::size_t s1,
                      std::size_t row0, std::size_t p0, std::size_t p1, double* out,
                      std::size_t outStride)
{
    const double* rows = P + (row0 / kPanel) * samples * kPanel + row0 % kPanel;
    for (std::size_t p = p0; p < p1; ++p) {
        const double* panel = P + p * samples * kPanel;
        v8d acc[kRowBlock][2];
        for (std::size_t r = 0; r < kRowBlock; ++r)
            acc[r][0] = acc[r][1] = v8d{};
        for (std::size_t s = s0; s < s1; ++s) {
            v8d b0, b1;
            load(b0, panel + s * kPanel);
            load(b1, panel + s * kPanel + 8);
            const double* a = rows + s * kPanel;
#pragma GCC unroll 8
            for (std::size_t r = 0; r < kRowBlock; ++r) {
                acc[r][0] += a[r] * b0;
                acc[r][1] += a[r] * b1;
            }
        }
        double* o = out + p * kPanel;
        for (std::size_t r = 0; r < kRowBlock; ++r) {
            store(o + r * outStride, acc[r][0]);
            store(o + r * outStride + 8, acc[r][1]);
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
