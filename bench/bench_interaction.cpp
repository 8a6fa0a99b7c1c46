// Time per call of the interaction test and the LDA likelihood, plain
// templates against the fast engine, n = 500. The fast/plain ratio is the
// ratio of the paired rows' times.

#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/interaction_fast.hpp"
#include "stats/interaction_test.hpp"
#include "stats/lda.hpp"
#include "stats/mc_test.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

constexpr std::size_t samples = 500;

// Log-expression pairs in three populated genotype classes drawn from a logit
// model with an interaction term, so both fits take several Newton steps.
struct Data {
    ublas::matrix<double> X{samples, 2};
    ublas::matrix<unsigned> Y{samples, 2};
    std::vector<double> x1, x2;
    std::vector<unsigned char> cls;
    ublas::matrix<double> stats{3, 4, 0.0};
    ublas::matrix<double> cov{4, 3, 0.0};
    ublas::vector<double> counts{3, 0.0};

    Data() {
        std::mt19937_64 rng(2024);
        std::normal_distribution<double> normal(0.0, 1.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (std::size_t i = 0; i < samples; ++i) {
            const double a = normal(rng);
            const double b = normal(rng);
            const double e0 = std::exp(0.2 + 0.9 * a - 0.6 * b + 0.8 * a * b);
            const double e1 = std::exp(-0.1 - 0.5 * a + 0.7 * b - 0.6 * a * b);
            const double u = unit(rng) * (1.0 + e0 + e1);
            const unsigned char k = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
            X(i, 0) = 2.0 + 0.3 * a;
            X(i, 1) = 1.5 + 0.3 * b;
            Y(i, 0) = k == 0;
            Y(i, 1) = k == 1;
            x1.push_back(X(i, 0));
            x2.push_back(X(i, 1));
            cls.push_back(k);
        }
        ublas::matrix<double> moments(2, 2, 0.0);
        for (std::size_t g = 0; g < 2; ++g) {
            double sum = 0.0, squares = 0.0;
            for (std::size_t i = 0; i < samples; ++i) {
                sum += X(i, g);
                squares += X(i, g) * X(i, g);
            }
            moments(g, 0) = sum / samples;
            moments(g, 1) = squares / samples;
        }
        n = static_cast<int>(samples);
        double statistic = 0.0;
        unsigned g1 = 0, g2 = 1;
        test_mean_cov(X, Y, moments, stats, cov, counts, statistic, g1, g2);
    }
};

const Data& data()
{
    static const Data d;
    return d;
}

void BM_interaction_test(benchmark::State& state)
{
    Data d = data();
    double llR = 0.0, llF = 0.0, stat = 0.0;
    for (auto _ : state) {
        double p = interaction_test(d.X, d.Y, llR, llF, stat);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_interaction_test)->Unit(benchmark::kMicrosecond);

void BM_interaction_test_fast(benchmark::State& state)
{
    const Data& d = data();
    InteractionWorkspace ws;
    double llR = 0.0, llF = 0.0, stat = 0.0;
    for (auto _ : state) {
        double p = interaction_test_fast(d.x1.data(), d.x2.data(), d.cls.data(), samples, ws, llR, llF, stat);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_interaction_test_fast)->Unit(benchmark::kMicrosecond);

void BM_llvalue_lda(benchmark::State& state)
{
    Data d = data();
    n = static_cast<int>(samples);
    for (auto _ : state) {
        double ll = llvalue_lda(d.X, d.Y, d.stats, d.cov, d.counts);
        benchmark::DoNotOptimize(ll);
    }
}
BENCHMARK(BM_llvalue_lda)->Unit(benchmark::kMicrosecond);

void BM_llvalue_lda_fast(benchmark::State& state)
{
    Data d = data();
    n = static_cast<int>(samples);
    InteractionWorkspace ws;
    for (auto _ : state) {
        prepare_pair(d.x1.data(), d.x2.data(), d.cls.data(), samples, ws);
        double beta[6];
        const double ll = lda_coefficients(d.stats, d.cov, d.counts, beta)
                              ? lda_log_likelihood_fast(ws, beta)
                              : -9999.0;
        benchmark::DoNotOptimize(ll);
    }
}
BENCHMARK(BM_llvalue_lda_fast)->Unit(benchmark::kMicrosecond);


}  // namespace
