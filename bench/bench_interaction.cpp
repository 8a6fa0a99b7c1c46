// Time per call of the interaction test and the LDA likelihood, plain
// templates against the fast engine (on the best level), n = 500. The
// fast/plain ratio is the ratio of the paired rows' times. The last rows
// time the fast test and its step sums on each level the CPU has.

#include <benchmark/benchmark.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "bench/logit_pair.hpp"
#include "fast/interaction_fast.hpp"
#include "fast/kernels.hpp"
#include "fast/pair_layout.hpp"
#include "fast/step_sums.hpp"
#include "io/globals.hpp"
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
    InteractionWorkspace ws(best_kernels());
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
    InteractionWorkspace ws(best_kernels());
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

// The level of the benchmark's first argument, or null (and the row marked
// skipped) when the CPU lacks it.
const Kernels* level(benchmark::State& state)
{
    const Isa isa = static_cast<Isa>(state.range(0));
    state.SetLabel(isa_name(isa));
    if (isa_supported(isa))
        return &kernels_for(isa);
    state.SkipWithError("level not supported by this CPU");
    return nullptr;
}

void BM_interaction_test_fast_level(benchmark::State& state)
{
    const Kernels* k = level(state);
    if (!k)
        return;
    const Data& d = data();
    InteractionWorkspace ws(*k);
    double llR = 0.0, llF = 0.0, stat = 0.0;
    for (auto _ : state) {
        double p = interaction_test_fast(d.x1.data(), d.x2.data(), d.cls.data(), samples, ws, llR, llF, stat);
        benchmark::DoNotOptimize(p);
    }
}

// One Newton step's sums of the reduced (argument 1: 0) or full design.
void BM_step_sums_level(benchmark::State& state)
{
    const Kernels* k = level(state);
    if (!k)
        return;
    const Data& d = data();
    InteractionWorkspace ws(*k);
    prepare_pair(d.x1.data(), d.x2.data(), d.cls.data(), samples, ws);
    const PairColumns c = pair_columns(ws.store.get(), samples);
    k->fast.design_products(c);
    for (std::size_t s = 0; s < c.padded; ++s)
        c.e0[s] = c.e1[s] = 1.0 + 0.001 * static_cast<double>(s);
    const auto sums = state.range(1) ? k->fast.step_sums_full : k->fast.step_sums_reduced;
    double out[kMaxSumLanes];
    for (auto _ : state) {
        sums(c, out);
        benchmark::DoNotOptimize(out);
    }
}

void each_level(benchmark::internal::Benchmark* b, bool designs)
{
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512})
        for (int full = 0; full <= (designs ? 1 : 0); ++full)
            b->Args({static_cast<int>(isa), full});
    b->Unit(benchmark::kMicrosecond);
}
BENCHMARK(BM_interaction_test_fast_level)->Apply([](auto* b) { each_level(b, false); });
BENCHMARK(BM_step_sums_level)->Apply([](auto* b) { each_level(b, true); });


}  // namespace
