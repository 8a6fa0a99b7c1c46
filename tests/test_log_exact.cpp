#include "exact/log_exact.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/batch_exactness.hpp"
#include "tests/support.hpp"

namespace {

using log_exact_detail::Path;

using testsupport::bits_of;
using testsupport::from_bits;

using batchcheck::Mismatches;
using batchcheck::Runner;
using batchcheck::push_neighbours;

double library(double x)
{
    return std::log(x);
}

std::vector<Runner> runners()
{
    return batchcheck::runners<Path>(
        [](Path p) { return log_exact_detail::log_exact_path_available(p); },
        [](Path p, const double* x, double* y, std::size_t n) { log_exact_detail::log_exact_path(p, x, y, n); },
        [](const double* x, double* y, std::size_t n) { log_exact_batch(x, y, n); });
}

void expect_identical(const std::vector<double>& x, const std::string& what)
{
    batchcheck::expect_identical(runners(), library, "log", x, what);
}

std::size_t random_samples()
{
    return 10'000'000 * static_cast<std::size_t>(testsupport::exact_samples_scale());
}

// A vector path that the CPU could run but that switched itself off (its
// table failing its checks) would leave every other test passing on the
// library alone.
TEST(LogExact, VectorPathsRunWhereTheCpuAllows)
{
    using log_exact_detail::log_exact_path_available;
    __builtin_cpu_init();
    const bool fma = __builtin_cpu_supports("fma");
    EXPECT_EQ(log_exact_path_available(Path::avx2), fma && __builtin_cpu_supports("avx2"));
    EXPECT_EQ(log_exact_path_available(Path::avx512),
              fma && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"));
    EXPECT_TRUE(log_exact_path_available(Path::scalar));
}

TEST(LogExact, SpecialValues)
{
    using limits = std::numeric_limits<double>;
    const double inf = limits::infinity();
    std::vector<double> x = {0.0, -0.0, inf, -inf, limits::quiet_NaN(), -limits::quiet_NaN(),
                             limits::signaling_NaN(), from_bits(0x7FF8000000012345),
                             from_bits(0xFFF0000000000001), limits::denorm_min(),
                             -limits::denorm_min(), limits::min(), -limits::min(), limits::max(),
                             limits::lowest(), 1.0, -1.0, 2.0, 0.5, std::exp(1.0), std::exp(-1.0)};
    // The ends of the normal range, and the subnormals below it.
    push_neighbours(x, limits::min(), 40);
    push_neighbours(x, limits::max(), 40);
    push_neighbours(x, limits::denorm_min() * 1000, 40);
    std::mt19937_64 gen(7);
    for (int i = 0; i < 20000; ++i) {
        const double v = from_bits(gen() % 0x0010000000000000);
        x.push_back(v);
        x.push_back(-v);
        x.push_back(-std::ldexp(1.0 + static_cast<double>(gen() % 1024) / 1024, -1000 + i % 2000));
    }
    // Results that are powers of two or land next to one.
    for (int e = -60; e <= 9; ++e) {
        push_neighbours(x, std::exp(std::ldexp(1.0, e)), 3);
        push_neighbours(x, std::exp(-std::ldexp(1.0, e)), 3);
    }
    expect_identical(x, "special values");
}

// Every power of two and its neighbours: where the exponent and cell change.
TEST(LogExact, PowersOfTwo)
{
    std::vector<double> x;
    for (int e = -1022; e <= 1023; ++e)
        push_neighbours(x, std::ldexp(1.0, e), 8);
    expect_identical(x, "powers of two");
}

// At and around every boundary of a table of up to 1024 cells per binade,
// over a spread of exponents.
TEST(LogExact, CellBoundaries)
{
    std::vector<double> x;
    for (int e = -1022; e <= 1023; e += 37)
        for (int j = 0; j < 1024; ++j)
            push_neighbours(x, std::ldexp(1.0 + j / 1024.0, e), 2);
    for (int e : {-1, 0})
        for (int j = 0; j < 1024; ++j)
            push_neighbours(x, std::ldexp(1.0 + j / 1024.0, e), 6);
    expect_identical(x, "cell boundaries");
}

// Tiny results: 1 -+ j ulps, and 1 -+ d for d over all scales down to an ulp.
TEST(LogExact, NearOne)
{
    std::vector<double> x;
    push_neighbours(x, 1.0, 20000);
    std::mt19937_64 gen(13);
    std::uniform_real_distribution<double> frac(1.0, 2.0);
    for (int i = 0; i < 200000; ++i) {
        const double d = std::ldexp(frac(gen), -1 - static_cast<int>(gen() % 53));
        x.push_back(1.0 + d);
        x.push_back(1.0 - d);
    }
    expect_identical(x, "near one");
}

// Lengths around the vector widths, unaligned starts.
TEST(LogExact, TailsAndOffsets)
{
    std::vector<double> src(64);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = i % 5 == 4 ? -1.0 : 0.01 + 0.37 * static_cast<double>(i);
    for (std::size_t offset = 0; offset < 3; ++offset)
        for (std::size_t len = 0; len <= 17; ++len)
            expect_identical(std::vector<double>(src.begin() + offset, src.begin() + offset + len),
                             "tail of " + std::to_string(len));
}

// In place, with lanes the library must take (NaN, negative, zero, subnormal).
TEST(LogExact, InPlace)
{
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> x(20011);
    for (std::size_t i = 0; i < x.size(); ++i) {
        switch (i % 11) {
        case 0: x[i] = std::numeric_limits<double>::quiet_NaN(); break;
        case 3: x[i] = -u(gen); break;
        case 5: x[i] = 0.0; break;
        case 7: x[i] = 1e-310 * u(gen); break;
        case 9: x[i] = 1.0; break;
        default: x[i] = u(gen); break;
        }
    }
    batchcheck::expect_identical(runners(), library, "log", x, "in place", true);
}

// Probabilities should mostly stay on the vector path: a check of speed, as
// a path that rejected everything would still be exact.
TEST(LogExact, FewProbabilitiesFallBack)
{
    std::mt19937_64 gen(17);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> x(100000);
    for (double& v : x)
        v = u(gen);
    const double fraction =
        static_cast<double>(log_exact_detail::log_exact_fallbacks(x.data(), x.size())) /
        static_cast<double>(x.size());
    if (log_exact_detail::log_exact_path_available(Path::avx2))
        EXPECT_LT(fraction, 0.15);
    else
        EXPECT_EQ(fraction, 1.0);
}

// The bulk check, on every vector path: probabilities (uniform, log-uniform
// down to 1e-300, dense on [0.5, 1] and just below 1), values above 1 up to
// 1e300, and random bit patterns. Log-uniform values get a random mantissa:
// drawn as exp of a uniform double, log would give that double back almost
// exactly, far from any rounding midpoint.
TEST(LogExact, RandomInputs)
{
    const std::size_t total = random_samples();
    constexpr std::size_t kChunk = 1 << 20;
    std::mt19937_64 gen(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x(kChunk), y(kChunk), want(kChunk);
    std::vector<Runner> paths;
    for (const Runner& r : runners())
        if (r.available && r.vector_path)
            paths.push_back(r);
    std::vector<std::size_t> bad(paths.size());
    Mismatches first;
    for (std::size_t done = 0; done < total; done += kChunk) {
        const std::size_t n = std::min(kChunk, total - done);
        x.resize(n);
        y.resize(n);
        want.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            switch (i % 6) {
            case 0: x[i] = unit(gen); break;
            case 1: x[i] = std::ldexp(1.0 + unit(gen), -1 - static_cast<int>(gen() % 996)); break;
            case 2: x[i] = 0.5 + 0.5 * unit(gen); break;
            case 3: x[i] = 1.0 - std::ldexp(unit(gen), -static_cast<int>(gen() % 30)); break;
            case 4: x[i] = std::ldexp(1.0 + unit(gen), static_cast<int>(gen() % 996)); break;
            default: x[i] = from_bits(gen()); break;
            }
            want[i] = std::log(x[i]);
        }
        for (std::size_t p = 0; p < paths.size(); ++p) {
            paths[p].run(x.data(), y.data(), n);
            for (std::size_t i = 0; i < n; ++i) {
                if (bits_of(y[i]) == bits_of(want[i]))
                    continue;
                first.record(x[i], y[i], want[i]);
                ++bad[p];
            }
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p)
        EXPECT_EQ(bad[p], 0u) << paths[p].name << ", of " << total << " inputs";
    EXPECT_EQ(first.count, 0u) << "first: log(" << std::hexfloat << first.first_x << ") gave "
                               << first.first_got << ", library " << first.first_want;
}

}  // namespace
