// Batched exponentials against the library loop they replace, at every
// instruction-set level the CPU has, on inputs shaped like the scan's
// predictors: normal(0, 2), and uniform[-30, 10]
// (strongly negative predictors, as in the interaction model), capped at
// 500 as the scan calls them. Each iteration takes the next of 64 batches:
// with one batch repeated, the branch predictor would learn which lanes go
// to the library, which real data never allows.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "fast/kernels.hpp"

namespace {

constexpr double kCap = 500.0;
constexpr std::size_t kBatches = 64;

struct Inputs {
    std::vector<double> x;
    std::size_t n;
    const double* batch(std::size_t i) const { return x.data() + (i % kBatches) * n; }
};

Inputs inputs(const benchmark::State& state)
{
    Inputs in;
    in.n = static_cast<std::size_t>(state.range(0));
    in.x.resize(kBatches * in.n);
    std::mt19937_64 rng(1);
    std::normal_distribution<double> normal(0.0, 2.0);
    std::uniform_real_distribution<double> uniform(-30.0, 10.0);
    for (double& x : in.x)
        x = state.range(1) == 0 ? normal(rng) : uniform(rng);
    return in;
}

void label(benchmark::State& state, std::size_t n)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.SetLabel(state.range(1) == 0 ? "normal(0,2)" : "uniform[-30,10]");
}

void BM_StdExp(benchmark::State& state)
{
    const Inputs in = inputs(state);
    std::vector<double> y(in.n);
    std::size_t iteration = 0;
    for (auto _ : state) {
        const double* x = in.batch(iteration++);
        for (std::size_t i = 0; i < in.n; ++i)
            y[i] = std::exp(x[i] < kCap ? x[i] : kCap);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    label(state, in.n);
}

// Capped as the scan calls it, or plain.
void BM_ExpBatch(benchmark::State& state, const Kernels* kernels, bool capped)
{
    const Inputs in = inputs(state);
    std::vector<double> y(in.n);
    std::size_t iteration = 0;
    for (auto _ : state) {
        const double* x = in.batch(iteration++);
        if (capped)
            kernels->exact.exp_batch_capped(x, y.data(), in.n, kCap);
        else
            kernels->exact.exp_batch(x, y.data(), in.n);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    label(state, in.n);
}

// With --benchmark_repetitions, the fastest repetition too: on a shared
// machine the minimum is the steadiest figure.
void shapes(benchmark::internal::Benchmark* b)
{
    for (int dist : {0, 1})
        for (int n : {512, 1024})
            b->Args({n, dist});
    b->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });
}

BENCHMARK(BM_StdExp)->Apply(shapes);

const bool registered = [] {
    for (Isa isa : supported_isas())
        for (bool capped : {false, true}) {
            const std::string name = std::string(capped ? "BM_ExpBatchCapped/" : "BM_ExpBatch/") +
                                     isa_name(isa);
            benchmark::RegisterBenchmark(name.c_str(), BM_ExpBatch, &kernels_for(isa), capped)
                ->Apply(shapes);
        }
    return true;
}();

}  // namespace
