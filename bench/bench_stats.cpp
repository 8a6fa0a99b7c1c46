// Time per call of the three statistics of one SNP and gene pair, n = 500.

#include <benchmark/benchmark.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "bench/logit_pair.hpp"
#include "io/globals.hpp"
#include "stats/interaction.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

using Data = LogitPair;

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
