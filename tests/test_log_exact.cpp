// log_exact_batch at every level, bit for bit std::log: the proof sweep run
// small (morv-proofs runs it large), and the cases callers lean on.

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "proofs/exp_log.hpp"
#include "tests/isa_levels.hpp"

namespace {

using Limits = std::numeric_limits<double>;

class LogExact : public IsaLevel {};

TEST_P(LogExact, ProofSweep)
{
    const ProofResult r = prove_log(kernels(), 150000, 1);
    EXPECT_EQ(r.checked, 2u * 150000);  // in and out of place
    EXPECT_EQ(r.mismatches, 0u) << "first at log(" << std::hexfloat << r.first_bad_input << ")";
}

// Negative, zero, subnormal, infinite and NaN inputs, the ends of the normal
// range, and 1 (log exactly +0).
TEST_P(LogExact, SpecialValues)
{
    const std::vector<double> x = {-1.0,         -0.0,          0.0,           -Limits::infinity(),
                                   Limits::infinity(), Limits::quiet_NaN(), -Limits::quiet_NaN(),
                                   Limits::denorm_min(), 1e-310,  Limits::min(), -Limits::min(),
                                   Limits::max(), Limits::lowest(), 1.0,         2.0,
                                   0.5};
    ProofResult r;
    check_batch(kernels().exact.log_exact_batch, x, [](double v) { return std::log(v); }, r);
    EXPECT_EQ(r.mismatches, 0u) << "first at log(" << std::hexfloat << r.first_bad_input << ")";
}

// Probabilities should mostly stay on the vector path: a level that rejected
// every lane (or whose table failed its check) would still be exact.
TEST_P(LogExact, FewProbabilitiesFallBack)
{
    std::mt19937_64 gen(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x(100000);
    for (double& v : x)
        v = unit(gen);
    const std::size_t rejected = kernels().exact.log_exact_fallbacks(x.data(), x.size());
    EXPECT_LT(static_cast<double>(rejected), 0.15 * static_cast<double>(x.size()));
}

MORV_ISA_LEVELS(LogExact);

}  // namespace
