// exp_batch and exp_batch_capped at every level, bit for bit std::exp: the
// proof sweep run small (morv-proofs runs it large), and the cases callers
// lean on.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "exact/exp_kernel.hpp"
#include "proofs/exp_log.hpp"
#include "tests/isa_levels.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class ExpBatch : public IsaLevel {};

TEST_P(ExpBatch, ProofSweep)
{
    const ProofResult r = prove_exp(kernels(), 150000, 1);
    EXPECT_EQ(r.checked, 4u * 150000);  // both functions, in and out of place
    EXPECT_EQ(r.mismatches, 0u) << "first at exp(" << std::hexfloat << r.first_bad_input << ")";
}

// NaN, infinities, overflow, subnormal and zero results, tiny inputs, and
// inputs just outside the range the vector evaluation accepts.
TEST_P(ExpBatch, SpecialValues)
{
    const std::vector<double> x = {kNaN,  -kNaN,   kInf,  -kInf,  0.0,    -0.0,   709.79, 1000.0,
                                   -740.0, -745.2, -800.0, 1e-310, -1e-20, 700.0, -700.0, 700.001};
    ProofResult r;
    check_batch(kernels().exact.exp_batch, x, [](double v) { return std::exp(v); }, r);
    EXPECT_EQ(r.mismatches, 0u) << "first at exp(" << std::hexfloat << r.first_bad_input << ")";
}

// In place, as the interaction test calls it: NaN and values above the cap
// take the cap.
TEST_P(ExpBatch, CappedInPlace)
{
    std::vector<double> y = {kNaN, kInf, 600.0, 500.0, -kInf, 1.0, 499.9, -3.0, kNaN};
    kernels().exact.exp_batch_capped(y.data(), y.data(), y.size(), 500.0);
    const double cap = std::exp(500.0);
    const std::vector<double> want = {cap, cap, cap, cap, 0.0, std::exp(1.0), std::exp(499.9),
                                      std::exp(-3.0), cap};
    EXPECT_EQ(y, want);
}

MORV_ISA_LEVELS(ExpBatch);

// A table failing its check would send every lane to the library: still
// exact, but slow.
TEST(ExpBatchTable, PassesItsCheck)
{
    EXPECT_TRUE(exp_kernel::table().ok);
}

}  // namespace
