// Logarithms of 1024 probabilities: the library one call at a time, against
// log_exact_batch at every instruction-set level the CPU has. The counter
// "fallback" is the fraction of lanes the level hands to the library.
// Log-uniform values run from 1e-300 to 1.

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "fast/kernels.hpp"

namespace {

constexpr std::size_t kCount = 1024;

enum class Kind { uniform, log_uniform };

std::vector<double> probabilities(Kind kind)
{
    std::mt19937_64 gen(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x(kCount);
    for (double& v : x) {
        // A random mantissa: exp of a uniform double would have a log far
        // from rounding midpoints, and never fall back.
        do
            v = kind == Kind::uniform ? unit(gen)
                                      : std::ldexp(1.0 + unit(gen), -1 - static_cast<int>(gen() % 996));
        while (v == 0.0);
    }
    return x;
}

void library_loop(benchmark::State& state, Kind kind)
{
    const std::vector<double> x = probabilities(kind);
    std::vector<double> y(kCount);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kCount; ++i)
            y[i] = std::log(x[i]);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCount));
}

void batch(benchmark::State& state, Kind kind, const Kernels* kernels)
{
    const std::vector<double> x = probabilities(kind);
    std::vector<double> y(kCount);
    for (auto _ : state) {
        kernels->exact.log_exact_batch(x.data(), y.data(), kCount);
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCount));
    state.counters["fallback"] =
        static_cast<double>(kernels->exact.log_exact_fallbacks(x.data(), kCount)) / kCount;
}

BENCHMARK_CAPTURE(library_loop, uniform, Kind::uniform);
BENCHMARK_CAPTURE(library_loop, log_uniform, Kind::log_uniform);

const bool registered = [] {
    for (Isa isa : supported_isas())
        for (Kind kind : {Kind::uniform, Kind::log_uniform}) {
            const std::string name = std::string("batch/") +
                                     (kind == Kind::uniform ? "uniform/" : "log_uniform/") +
                                     isa_name(isa);
            benchmark::RegisterBenchmark(name.c_str(), batch, kind, &kernels_for(isa));
        }
    return true;
}();

}  // namespace
