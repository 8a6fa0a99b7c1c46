#include "exact/exp_batch.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/batch_exactness.hpp"
#include "tests/support.hpp"

namespace {

using exp_batch_detail::Path;
using testsupport::bits_of;
using testsupport::from_bits;

using batchcheck::Mismatches;
using batchcheck::Runner;
using batchcheck::push_neighbours;

double library(double x)
{
    return std::exp(x);
}

std::vector<Runner> runners()
{
    return batchcheck::runners<Path>(
        [](Path p) { return exp_batch_detail::exp_batch_path_available(p); },
        [](Path p, const double* x, double* y, std::size_t n) { exp_batch_detail::exp_batch_path(p, x, y, n); },
        [](const double* x, double* y, std::size_t n) { exp_batch(x, y, n); });
}

void compare(const std::vector<double>& x, const std::vector<double>& y, Mismatches& m)
{
    batchcheck::compare(library, x, y, m);
}

void expect_identical(const std::vector<double>& x, const std::string& what)
{
    batchcheck::expect_identical(runners(), library, "exp", x, what);
}

std::size_t random_samples()
{
    return 20'000'000 * static_cast<std::size_t>(testsupport::exact_samples_scale());
}

TEST(ExpBatch, SpecialValues)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double dmin = std::numeric_limits<double>::denorm_min();
    using limits = std::numeric_limits<double>;
    std::vector<double> x = {0.0, -0.0, inf, -inf, limits::quiet_NaN(), -limits::quiet_NaN(),
                             limits::signaling_NaN(), from_bits(0x7FF8000000012345), dmin, -dmin,
                             limits::min(), -limits::min(), limits::max(), limits::lowest(),
                             1.0, -1.0, 500.0, 700.0, -700.0};
    // Overflow, smallest normal result, smallest subnormal result, the
    // accepted range's ends, and where exp rounds to 1.
    for (double edge : {709.782712893384, -708.3964185322641, -745.1332191019411,
                        -744.44007192138126, 700.0, -700.0, 0x1p-53, -0x1p-54})
        push_neighbours(x, edge, 40);
    // Subnormal and tiny inputs, both signs.
    std::mt19937_64 gen(7);
    for (int i = 0; i < 20000; ++i) {
        const double v = std::ldexp(std::uniform_real_distribution<double>(1, 2)(gen),
                                    -60 - static_cast<int>(gen() % 1015));
        x.push_back(v);
        x.push_back(-v);
    }
    expect_identical(x, "special values");
}

// At and around multiples of ln2/256 and their midpoints: every index and
// index boundary of a table of 2^(j/N) for N up to 512, over the whole range.
TEST(ExpBatch, TableIndicesAndBoundaries)
{
    const long double step = logl(2.0L) / 256;
    std::vector<double> x;
    auto around = [&](long k) {
        push_neighbours(x, static_cast<double>(k * step), 3);
        push_neighbours(x, static_cast<double>((k + 0.5L) * step), 3);
    };
    for (long k = -2600; k <= 2600; ++k)
        around(k);
    for (long k = -258000; k <= 258000; k += 97)
        around(k);
    expect_identical(x, "table boundaries");
}

// Predictors as the interaction test forms them, capped at 500.
TEST(ExpBatch, InteractionPredictors)
{
    std::mt19937_64 gen(11);
    std::normal_distribution<double> expr(0.0, 2.0), coef(0.0, 3.0);
    std::vector<double> x;
    for (int rep = 0; rep < 2000; ++rep) {
        const double b0 = coef(gen), b1 = coef(gen), b2 = coef(gen), b3 = coef(gen) / 4;
        for (int s = 0; s < 200; ++s) {
            const double a = expr(gen), b = expr(gen);
            const double e = (((0.0 + 1.0 * b0) + a * b1) + b * b2) + (a * b) * b3;
            x.push_back(e < 500.0 ? e : 500.0);
        }
    }
    expect_identical(x, "interaction predictors");
}

// Inputs whose exponential lies within 0.012 ulp of a rounding midpoint
// (located in long double, good to 2^-11 ulp): where lanes are decided by
// the acceptance margin, on both sides of it, and where the library itself
// rounds away from the nearest double (seen up to 0.0065 ulp from the
// midpoint).
TEST(ExpBatch, NearRoundingMidpoints)
{
    std::mt19937_64 gen(17);
    std::uniform_real_distribution<double> moderate(-40.0, 40.0), wide(-700.0, 700.0);
    std::vector<double> x;
    while (x.size() < 80000) {
        const double v = x.size() % 4 == 0 ? wide(gen) : moderate(gen);
        int e;
        const long double mantissa = std::frexp(std::exp(static_cast<long double>(v)), &e);
        const long double scaled = std::ldexp(mantissa, 53);
        const long double above = scaled - std::floor(scaled);  // in ulps of exp(v)
        if (std::fabs(above - 0.5L) < 0.012L)
            x.push_back(v);
    }
    expect_identical(x, "near rounding midpoints");
}

// Lengths around the vector widths, unaligned starts.
TEST(ExpBatch, TailsAndOffsets)
{
    std::vector<double> src(64);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = -30.0 + 1.37 * static_cast<double>(i);
    for (std::size_t offset = 0; offset < 3; ++offset)
        for (std::size_t len = 0; len + offset <= 40; ++len)
            expect_identical(std::vector<double>(src.begin() + offset, src.begin() + offset + len),
                             "tail");
}

// In place, with lanes the library must take (NaN, large, near 0) mixed in.
TEST(ExpBatch, InPlace)
{
    std::mt19937_64 gen(5);
    std::uniform_real_distribution<double> u(-800.0, 800.0);
    std::vector<double> x(20011);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = i % 7 == 0 ? std::numeric_limits<double>::quiet_NaN() : i % 5 == 0 ? 0.0 : u(gen);
    batchcheck::expect_identical(runners(), library, "exp", x, "in place", true);
}

// The capped form, in place, against the library on the capped value.
TEST(ExpBatch, Capped)
{
    std::mt19937_64 gen(3);
    std::uniform_real_distribution<double> u(-800.0, 800.0);
    std::vector<double> x = {std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY, 0.0,
                             -0.0};
    push_neighbours(x, 500.0, 20);
    push_neighbours(x, -3.5, 20);
    while (x.size() < 10007)
        x.push_back(u(gen));
    const Path paths[] = {Path::avx512, Path::avx2, Path::scalar};
    for (double cap : {500.0, -3.5}) {
        std::vector<double> want(x.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            want[i] = std::exp(x[i] < cap ? x[i] : cap);
        for (int run = 0; run < 4; ++run) {
            if (run < 3 && !exp_batch_detail::exp_batch_path_available(paths[run]))
                continue;
            std::vector<double> y = x;
            if (run < 3)
                exp_batch_detail::exp_batch_capped_path(paths[run], y.data(), y.data(), y.size(),
                                                        cap);
            else
                exp_batch_capped(y.data(), y.data(), y.size(), cap);
            std::size_t bad = 0;
            for (std::size_t i = 0; i < x.size(); ++i)
                bad += bits_of(y[i]) != bits_of(want[i]);
            EXPECT_EQ(bad, 0u) << "cap " << cap << ", run " << run;
        }
    }
}

TEST(ExpBatch, RandomInputs)
{
    const std::size_t total = random_samples();
    constexpr std::size_t kChunk = 1 << 20;
    std::mt19937_64 gen(2024);
    std::uniform_real_distribution<double> uniform(-750.0, 710.0);
    std::uniform_real_distribution<double> magnitude(std::log(1e-300), std::log(710.0));
    std::uniform_real_distribution<double> moderate(-40.0, 40.0);
    std::vector<double> x(kChunk), y(kChunk);
    Mismatches m;
    for (std::size_t done = 0; done < total; done += kChunk) {
        const std::size_t n = std::min(kChunk, total - done);
        x.resize(n);
        y.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (i % 3 == 0) {
                x[i] = uniform(gen);
            } else if (i % 3 == 1) {
                const double v = std::exp(magnitude(gen));
                x[i] = (gen() & 1) ? v : -v;
            } else {
                x[i] = moderate(gen);  // where the interaction test mostly works
            }
        }
        exp_batch(x.data(), y.data(), n);
        compare(x, y, m);
    }
    EXPECT_EQ(m.count, 0u) << "of " << total << ", first exp(" << std::hexfloat << m.first_x
                           << ") gave " << m.first_got << ", library " << m.first_want;
}

}  // namespace
