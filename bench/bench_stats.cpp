// Time per call of the three statistics of one SNP and gene pair, n = 500.

#include <cmath>
#include <random>

#include <benchmark/benchmark.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/interaction_test.hpp"
#include "stats/lda.hpp"
#include "stats/mc_test.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

constexpr std::size_t samples = 500;

// Log-expression pairs around 2 in three populated genotype classes whose
// probabilities follow a logit model with an interaction term, so the fits
// of the interaction test need several Newton steps.
struct Data {
    ublas::matrix<double> X{samples, 2};
    ublas::matrix<unsigned> Y{samples, 2};
    ublas::matrix<double> moments{2, 2, 0.0};

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
            const unsigned cls = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
            X(i, 0) = 2.0 + 0.3 * a;
            X(i, 1) = 1.5 + 0.3 * b;
            Y(i, 0) = cls == 0;
            Y(i, 1) = cls == 1;
        }
        for (std::size_t g = 0; g < 2; ++g) {
            double sum = 0.0;
            double squares = 0.0;
            for (std::size_t i = 0; i < samples; ++i) {
                sum += X(i, g);
                squares += X(i, g) * X(i, g);
            }
            moments(g, 0) = sum / samples;
            moments(g, 1) = squares / samples;
        }
        n = static_cast<int>(samples);
    }
};

struct Work {
    ublas::matrix<double> stats{3, 4, 0.0};
    ublas::matrix<double> cov{4, 3, 0.0};
    ublas::vector<double> counts{3, 0.0};
    double statistic = 0.0;

    void clear() {
        stats.clear();
        cov.clear();
        counts.clear();
    }
};

void BM_test_mean_cov(benchmark::State& state) {
    Data data;
    Work work;
    unsigned g1 = 0;
    unsigned g2 = 1;
    for (auto _ : state) {
        work.clear();  // the scan hands over fresh zeroed work objects
        double p = test_mean_cov(data.X, data.Y, data.moments, work.stats, work.cov, work.counts,
                                 work.statistic, g1, g2);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_test_mean_cov);

void BM_llvalue_lda(benchmark::State& state) {
    Data data;
    Work work;
    unsigned g1 = 0;
    unsigned g2 = 1;
    test_mean_cov(data.X, data.Y, data.moments, work.stats, work.cov, work.counts, work.statistic, g1, g2);
    for (auto _ : state) {
        double ll = llvalue_lda(data.X, data.Y, work.stats, work.cov, work.counts);
        benchmark::DoNotOptimize(ll);
    }
}
BENCHMARK(BM_llvalue_lda);

void BM_interaction_test(benchmark::State& state) {
    Data data;
    double llR = 0.0;
    double llF = 0.0;
    double stat = 0.0;
    for (auto _ : state) {
        double p = interaction_test(data.X, data.Y, llR, llF, stat);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_interaction_test);

}  // namespace
