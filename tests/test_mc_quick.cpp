// The quick MC decision may only ever answer what the exact evaluation would
// print: held against the exact tail and printf-exact formatting on millions
// of statistics, with estimates anywhere inside their error bound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "exact/fixed_format.hpp"
#include "exact/chi_squared_tail.hpp"
#include "fast/mc_quick.hpp"
#include "simd/kernels.hpp"
#include "stats/mean_cov.hpp"
#include "tests/support.hpp"

namespace {

std::string exact_text(double T)
{
    char buf[fixed6_max_chars];
    const double p = mc_pvalue_with(T, chi_squared_tail10);
    return std::string(buf, format_fixed6(buf, std::log10(p)));
}

std::string micro_text(long long micro)
{
    char buf[64];
    const unsigned long long m = static_cast<unsigned long long>(-micro);
    std::snprintf(buf, sizeof buf, "-%llu.%06llu", m / 1000000, m % 1000000);
    return buf;
}

std::size_t samples_scale()
{
    return static_cast<std::size_t>(testsupport::exact_samples_scale());
}

struct ThresholdCase {
    double threshold;
};

class QuickDecision : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(QuickDecision, AgreesWithExactEvaluationWhenCertain)
{
    const double threshold = GetParam().threshold;
    const QuickThreshold quick = quick_threshold(threshold);
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> logT(std::log(1e-4), std::log(2000.0));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const std::size_t count = 400000 * samples_scale();
    std::size_t certain = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double T = i % 4 == 0 ? std::ldexp(1.0, -20) * static_cast<double>(rng() % (20000u << 20))
                                    : std::exp(logT(rng));
        // An estimate anywhere inside a bound typical of a few hundred
        // samples' worth of logarithm terms, including its very edge.
        const double errT = kStatisticRelativeError * (std::fabs(T) + 2000.0);
        const double shift = i % 8 == 0 ? (i % 16 == 0 ? errT : -errT) : unit(rng) * errT;
        const double estimate = T + shift;
        double sum = tail10_sum(estimate * 0.5), logSum;
        best_kernels().fast.log_batch(&sum, &logSum, 1);
        long long micro = 0;
        if (!quick_pruned_micro(estimate, errT, logSum, quick, micro))
            continue;
        ++certain;
        const double p = mc_pvalue_with(T, chi_squared_tail10);
        ASSERT_FALSE(threshold > p) << "T = " << T << " threshold " << threshold;
        ASSERT_EQ(micro_text(micro), exact_text(T)) << "T = " << T << " estimate " << estimate;
    }
    // Thresholds above every p-value leave nothing to the quick path.
    if (threshold > 2.0)
        EXPECT_EQ(certain, 0u);
    else
        EXPECT_GT(certain, 0u);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, QuickDecision,
                         ::testing::Values(ThresholdCase{0.0}, ThresholdCase{1e-7}, ThresholdCase{1e-4},
                                           ThresholdCase{0.05}, ThresholdCase{0.5}, ThresholdCase{3.0},
                                           ThresholdCase{-1.0}, ThresholdCase{std::nan("")}));

TEST(QuickDecision, SettlesNearlyEveryTypicalStatistic)
{
    // Statistics of unrelated pairs spread around 10 (10 degrees of freedom).
    const QuickThreshold quick = quick_threshold(1e-4);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> spread(0.5, 30.0);  // all pruned at 1e-4
    const int count = 100000;
    int certain = 0;
    for (int i = 0; i < count; ++i) {
        const double T = spread(rng);
        const double errT = kStatisticRelativeError * (T + 20000.0);
        double sum = tail10_sum(T * 0.5), logSum;
        best_kernels().fast.log_batch(&sum, &logSum, 1);
        long long micro;
        certain += quick_pruned_micro(T, errT, logSum, quick, micro);
    }
    EXPECT_GT(certain, count * 99 / 100);
}

TEST(QuickDecision, LeavesSentinelsAndEdgesToTheExactPath)
{
    const QuickThreshold none = quick_threshold(0.0);
    long long micro = 0;
    for (double T : {0.0, -1.0, 1e-6, 1e-3, 1400.0, 5000.0, 9999.9, 1e5, HUGE_VAL, -HUGE_VAL,
                     std::nan("")}) {
        double sum = tail10_sum(T * 0.5), logSum = std::log(sum);
        EXPECT_FALSE(quick_pruned_micro(T, 0.0, logSum, none, micro)) << T;
    }
    // A threshold above every p-value lets every pair through: never quick.
    const QuickThreshold all = quick_threshold(2.5);
    double sum = tail10_sum(5.0), logSum = std::log(sum);
    EXPECT_FALSE(quick_pruned_micro(10.0, 0.0, logSum, all, micro));
    // A rounding boundary inside the error bound is never decided.
    EXPECT_TRUE(quick_pruned_micro(10.0, 0.0, logSum, none, micro));
    EXPECT_EQ(micro_text(micro), exact_text(10.0));
    EXPECT_FALSE(quick_pruned_micro(10.0, 1.0, logSum, none, micro));
}

}  // namespace
