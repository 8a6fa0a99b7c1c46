// The two per-line kernels of the scan against the library calls they
// replace, on inputs shaped like the scan's: MC statistics drawn from the
// null distribution chi-squared(10), and log10 p-values in [-30, 0.3].

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <vector>

#include <boost/math/distributions/chi_squared.hpp>

#include "exact/fixed_format.hpp"
#include "exact/chi_squared_tail.hpp"

namespace {

constexpr std::size_t kInputs = 4096;  // a power of two, indexed by mask

std::vector<double> null_statistics()
{
    std::mt19937_64 rng(42);
    std::chi_squared_distribution<double> dist(10);
    std::vector<double> v(kInputs);
    for (double& t : v)
        t = dist(rng);
    return v;
}

std::vector<double> log_pvalues()
{
    std::mt19937_64 rng(43);
    std::uniform_real_distribution<double> dist(-30, 0.3);
    std::vector<double> v(kInputs);
    for (double& x : v)
        x = dist(rng);
    return v;
}

const std::vector<double>& statistics()
{
    static const std::vector<double> v = null_statistics();
    return v;
}

const std::vector<double>& values()
{
    static const std::vector<double> v = log_pvalues();
    return v;
}

void BM_TailLibrary(benchmark::State& state)
{
    const std::vector<double>& t = statistics();
    std::size_t i = 0;
    for (auto _ : state) {
        double q = boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(10), t[i]));
        benchmark::DoNotOptimize(q);
        i = (i + 1) & (kInputs - 1);
    }
}
BENCHMARK(BM_TailLibrary);

void BM_TailFast(benchmark::State& state)
{
    const std::vector<double>& t = statistics();
    std::size_t i = 0;
    for (auto _ : state) {
        double q = chi_squared_tail10(t[i]);
        benchmark::DoNotOptimize(q);
        i = (i + 1) & (kInputs - 1);
    }
}
BENCHMARK(BM_TailFast);

// The two halves of the fast tail separately: T < 8 takes the series, T >= 8
// the finite sum.
void tail_in_range(benchmark::State& state, double lo, double hi, bool fast)
{
    std::vector<double> t;
    for (double x : statistics())
        if (x >= lo && x < hi)
            t.push_back(x);
    std::size_t i = 0;
    for (auto _ : state) {
        const double x = t[i];
        double q = fast ? chi_squared_tail10(x)
                        : boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(10), x));
        benchmark::DoNotOptimize(q);
        if (++i == t.size())
            i = 0;
    }
}
BENCHMARK_CAPTURE(tail_in_range, library_below_8, 0.0, 8.0, false);
BENCHMARK_CAPTURE(tail_in_range, fast_below_8, 0.0, 8.0, true);
BENCHMARK_CAPTURE(tail_in_range, library_from_8, 8.0, 1e4, false);
BENCHMARK_CAPTURE(tail_in_range, fast_from_8, 8.0, 1e4, true);

void BM_FormatSnprintf(benchmark::State& state)
{
    const std::vector<double>& v = values();
    char buf[400];
    std::size_t i = 0;
    for (auto _ : state) {
        int len = std::snprintf(buf, sizeof buf, "%f", v[i]);
        benchmark::DoNotOptimize(len);
        benchmark::DoNotOptimize(buf);
        i = (i + 1) & (kInputs - 1);
    }
}
BENCHMARK(BM_FormatSnprintf);

void BM_FormatToChars(benchmark::State& state)
{
    const std::vector<double>& v = values();
    char buf[400];
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = std::to_chars(buf, buf + sizeof buf, v[i], std::chars_format::fixed, 6).ptr;
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(buf);
        i = (i + 1) & (kInputs - 1);
    }
}
BENCHMARK(BM_FormatToChars);

void BM_FormatFixed6(benchmark::State& state)
{
    const std::vector<double>& v = values();
    char buf[fixed6_max_chars];
    std::size_t i = 0;
    for (auto _ : state) {
        char* end = format_fixed6(buf, v[i]);
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(buf);
        i = (i + 1) & (kInputs - 1);
    }
}
BENCHMARK(BM_FormatFixed6);

// Integer fields of the result line.
void BM_UintSnprintf(benchmark::State& state)
{
    char buf[32];
    unsigned k = 0;
    for (auto _ : state) {
        int len = std::snprintf(buf, sizeof buf, "%d", static_cast<int>(k));
        benchmark::DoNotOptimize(len);
        benchmark::DoNotOptimize(buf);
        k = (k + 7919) & 0xfffff;
    }
}
BENCHMARK(BM_UintSnprintf);

void BM_UintToChars(benchmark::State& state)
{
    char buf[32];
    unsigned k = 0;
    for (auto _ : state) {
        char* end = std::to_chars(buf, buf + sizeof buf, k).ptr;
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(buf);
        k = (k + 7919) & 0xfffff;
    }
}
BENCHMARK(BM_UintToChars);

}  // namespace
