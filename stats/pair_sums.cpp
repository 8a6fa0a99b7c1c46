#include "stats/pair_sums.hpp"

#include <cstring>

namespace {

typedef double v8d __attribute__((vector_size(64)));

// By reference: a 64-byte vector passed by value would change the calling
// convention between the clones.
inline void load8(v8d& v, const double* p)
{
    std::memcpy(&v, p, sizeof v);
}

inline void store8(double* p, const v8d& v)
{
    std::memcpy(p, &v, sizeof v);
}

}  // namespace

// Eight genes against one panel of sixteen partners at a time: 16
// accumulators of eight lanes fill the AVX-512 register file; each lane is
// one pair's running sum, fed in sample order, so every lane's value equals
// the plain scalar loop's.
__attribute__((target_clones("avx512f", "avx2", "default")))
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
            load8(b0, panel + s * kPanel);
            load8(b1, panel + s * kPanel + 8);
            const double* a = rows + s * kPanel;
#pragma GCC unroll 8
            for (std::size_t r = 0; r < kRowBlock; ++r) {
                acc[r][0] += a[r] * b0;
                acc[r][1] += a[r] * b1;
            }
        }
        double* o = out + p * kPanel;
        for (std::size_t r = 0; r < kRowBlock; ++r) {
            store8(o + r * outStride, acc[r][0]);
            store8(o + r * outStride + 8, acc[r][1]);
        }
    }
}

__attribute__((target_clones("avx512f", "avx2", "default")))
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
