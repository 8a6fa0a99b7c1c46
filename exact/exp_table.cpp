#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "exact/binary128.hpp"
#include "exact/exp_kernel.hpp"

namespace exp_kernel {
namespace {

// ln2 = sum 1/(i 2^i), then 2^(j/16) = exp(j ln2/16) by its Taylor series,
// in binary128: far more precision than the split needs, and independent of
// any library exp. Checked against exp2l before use.
Table build_table()
{
    Table t;
    binary128 ln2 = 0, p = 1;
    for (int i = 1; i <= 130; ++i) {
        p /= 2;
        ln2 += p / i;
    }
    // k/16 has at most 14 significant bits for |x| <= kLimit, so
    // (k/16) ln2_hi is exact.
    std::uint64_t b;
    const double rounded = static_cast<double>(ln2);
    std::memcpy(&b, &rounded, sizeof b);
    b &= ~std::uint64_t{0x3FFF};
    std::memcpy(&t.ln2_hi, &b, sizeof b);
    t.ln2_lo = static_cast<double>(ln2 - t.ln2_hi);
    bool ok = std::fabs(static_cast<long double>(t.ln2_hi) + t.ln2_lo - logl(2.0L)) <
              0x1p-60L * t.ln2_hi;
    const binary128 step = ln2 / kSize;
    for (int j = 0; j < kSize; ++j) {
        const binary128 y = step * j;
        binary128 sum = 1, term = 1;
        for (int i = 1; i <= 45; ++i) {
            term = term * y / i;
            sum += term;
        }
        const double hi = static_cast<double>(sum);
        const double lo = static_cast<double>(sum - hi);
        t.hi[j] = hi;
        t.lo[j] = lo;
        t.rows[j][0] = hi;
        t.rows[j][1] = lo;
        const long double ref = exp2l(static_cast<long double>(j) / kSize);
        ok = ok && hi >= 1.0 && hi < 2.0 && std::fabs(lo) <= 0x1p-53 &&
             std::fabs(static_cast<long double>(hi) + lo - ref) < 0x1p-60L * ref;
    }
    t.ok = ok && t.hi[0] == 1.0 && t.lo[0] == 0.0;
    return t;
}

}  // namespace

const Table& table()
{
    static const Table t = build_table();
    return t;
}

}  // namespace exp_kernel
