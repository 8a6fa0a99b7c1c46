// Time per call of the interaction test and the LDA likelihood, plain
// templates against the fast engine, n = 500. The fast/plain ratio is the
// ratio of the paired rows' times.

#include <benchmark/benchmark.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "bench/logit_pair.hpp"
#include "io/globals.hpp"
#include "fast/interaction_fast.hpp"
#include "stats/interaction.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

constexpr std::size_t samples = LogitPair::samples;

// The pair with the group statistics its MC test leaves for the LDA.
struct Data : LogitPair {
    ublas::matrix<double> stats{3, 4, 0.0};
    ublas::matrix<double> cov{4, 3, 0.0};
    ublas::vector<double> counts{3, 0.0};

    Data()
    {
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
