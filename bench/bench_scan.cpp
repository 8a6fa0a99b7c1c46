// The fast scan's per-pair kernels: class cross sums, the batched logarithm,
// the quick decision for pruned pairs against the exact evaluation of a line.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "exact/fixed_format.hpp"
#include "exact/chi_squared_tail.hpp"
#include "fast/mc_quick.hpp"
#include "stats/mean_cov.hpp"
#include "fast/pair_sums.hpp"
#include "fast/kernels.hpp"

namespace {

std::vector<double> random_panels(std::size_t samples, std::size_t genes, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> z(2.0, 0.3);
    std::vector<double> table(samples * panel_count(genes) * kPanel);
    for (auto& v : table)
        v = z(rng);
    return table;
}

// One block of 8 genes against every partner of a 200-gene table, over all
// samples: per pair, one sum over n samples.
void BM_CrossSumsBlock(benchmark::State& state, const Kernels* k)
{
    const std::size_t samples = static_cast<std::size_t>(state.range(0)), genes = 200;
    const std::vector<double> table = random_panels(samples, genes, 1);
    const std::size_t width = panel_count(genes) * kPanel;
    std::vector<double> out(kRowBlock * width);
    for (auto _ : state) {
        k->fast.cross_sums_block(table.data(), samples, 0, samples, 0, 0, panel_count(genes), out.data(), width);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRowBlock * width));
    state.SetLabel("items = pair sums over n samples");
}

std::vector<double> typical_statistics(std::size_t count)
{
    std::mt19937_64 rng(3);
    std::chi_squared_distribution<double> chi2(10.0);
    std::vector<double> T(count);
    for (auto& t : T)
        t = chi2(rng);
    return T;
}

void BM_LogBatch(benchmark::State& state, const Kernels* k)
{
    const std::vector<double> x = typical_statistics(1024);
    std::vector<double> y(x.size());
    for (auto _ : state) {
        k->fast.log_batch(x.data(), y.data(), x.size());
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * x.size()));
}
// Each kernel at every level this CPU has.
const bool registered = [] {
    for (Isa isa : supported_isas()) {
        const std::string level = isa_name(isa);
        benchmark::RegisterBenchmark(("BM_CrossSumsBlock/" + level).c_str(), BM_CrossSumsBlock, &kernels_for(isa))
            ->Arg(200)
            ->Arg(500);
        benchmark::RegisterBenchmark(("BM_LogBatch/" + level).c_str(), BM_LogBatch, &kernels_for(isa));
    }
    return true;
}();

void BM_LogScalar(benchmark::State& state)
{
    const std::vector<double> x = typical_statistics(1024);
    std::vector<double> y(x.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < x.size(); ++i)
            y[i] = std::log(x[i]);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * x.size()));
}
BENCHMARK(BM_LogScalar);

// The p-value column of a pruned pair, settled from the estimate.
void BM_QuickPrunedText(benchmark::State& state)
{
    const std::vector<double> T = typical_statistics(1024);
    std::vector<double> sum(T.size()), logSum(T.size());
    const QuickThreshold quick = quick_threshold(1e-4);
    for (auto _ : state) {
        for (std::size_t i = 0; i < T.size(); ++i)
            sum[i] = tail10_sum(T[i] * 0.5);
        best_kernels().fast.log_batch(sum.data(), logSum.data(), T.size());
        long long acc = 0;
        for (std::size_t i = 0; i < T.size(); ++i) {
            long long micro = 0;
            if (quick_pruned_micro(T[i], 1e-10, logSum[i], quick, micro))
                acc += micro;
        }
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * T.size()));
}
BENCHMARK(BM_QuickPrunedText);

// The same column evaluated exactly: tail, log10, "%f".
void BM_ExactPrunedText(benchmark::State& state)
{
    const std::vector<double> T = typical_statistics(1024);
    char buf[fixed6_max_chars];
    for (auto _ : state) {
        for (double t : T) {
            char* end = format_fixed6(buf, std::log10(mc_pvalue_with(t, chi_squared_tail10)));
            benchmark::DoNotOptimize(end);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * T.size()));
}
BENCHMARK(BM_ExactPrunedText);

}  // namespace
