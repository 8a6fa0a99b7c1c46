// The fast tail probabilities and the fast "%f" formatter are only allowed
// because they reproduce the slow originals bit for bit. These tests compare
// them with the originals over millions of generated inputs, concentrated
// where the evaluation method or the rounding changes.
//
// MORV_EXACT_SAMPLES=<k> multiplies every sample count by k for a long
// proof run; the default run takes a few seconds.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <boost/math/distributions/chi_squared.hpp>

#include "exact/fixed_format.hpp"
#include "exact/chi_squared_tail.hpp"
#include "tests/support.hpp"

namespace {

using Rng = std::mt19937_64;
using Generator = std::function<double(Rng&)>;

using testsupport::bits_of;
using testsupport::from_bits;

std::uint64_t sample_scale()
{
    return testsupport::exact_samples_scale();
}

// Uniform in [0, 1) with 53 random bits.
double unit(Rng& rng) { return static_cast<double>(rng() >> 11) * 0x1p-53; }

double uniform(Rng& rng, double lo, double hi) { return lo + (hi - lo) * unit(rng); }

double log_uniform(Rng& rng, double lo, double hi)
{
    return std::exp(uniform(rng, std::log(lo), std::log(hi)));
}

// Steps `k` representable doubles away from a positive finite v.
double ulps_away(double v, std::int64_t k) { return from_bits(bits_of(v) + static_cast<std::uint64_t>(k)); }

// A point within a few thousand ulps, or a small relative distance, of one
// of the given positive points.
Generator near_points(std::vector<double> points)
{
    return [points](Rng& rng) {
        const double p = points[rng() % points.size()];
        if (rng() & 1)
            return ulps_away(p, static_cast<std::int64_t>(rng() % 8001) - 4000);
        const double rel = std::pow(10.0, -uniform(rng, 1, 15));
        return p * (1 + ((rng() & 1) ? rel : -rel));
    };
}

struct Sampler {
    const char* name;
    std::uint64_t count;
    Generator draw;
};

// Runs `same` on count * scale inputs of every sampler; reports how many
// inputs disagree and shows the first few.
template <class Same>
void check_all(const std::vector<Sampler>& samplers, Same same, std::uint64_t seed)
{
    const std::uint64_t scale = sample_scale();
    Rng rng(seed);
    std::uint64_t total = 0;
    for (const Sampler& s : samplers) {
        std::uint64_t bad = 0;
        std::ostringstream examples;
        const std::uint64_t count = s.count * scale;
        for (std::uint64_t i = 0; i < count; ++i) {
            const double v = s.draw(rng);
            std::string why;
            if (!same(v, why)) {
                if (++bad <= 5)
                    examples << "\n  input " << std::hexfloat << v << std::defaultfloat << " ("
                             << v << "): " << why;
            }
        }
        total += count;
        EXPECT_EQ(bad, 0u) << s.name << ":" << examples.str();
    }
    std::cout << "checked " << total << " inputs" << std::endl;
}

double boost_tail(double df, double x)
{
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(df), x));
}

template <double (*Fast)(double), int DF>
bool same_tail(double x, std::string& why)
{
    const double fast = Fast(x);
    const double slow = boost_tail(DF, x);
    if (bits_of(fast) == bits_of(slow))
        return true;
    std::ostringstream s;
    s.precision(20);
    s << "fast " << fast << " library " << slow;
    why = s.str();
    return false;
}

// The first double from which the library's tail is 0 (or, with
// `below_normal`, below the smallest normal double), by bisection on a range
// where it is monotone.
double tail_crossing(double df, double lo, double hi, bool below_normal)
{
    auto past = [&](double x) {
        const double q = boost_tail(df, x);
        return below_normal ? q < DBL_MIN : q == 0;
    };
    while (ulps_away(lo, 1) < hi) {
        const double mid = from_bits((bits_of(lo) + bits_of(hi)) / 2);
        (past(mid) ? hi : lo) = mid;
    }
    return hi;
}

const long double root_eps = boost::math::tools::root_epsilon<long double>();
const double log_max = static_cast<double>(boost::math::tools::log_max_value<long double>());

TEST(ChiSquaredTail10, MatchesLibraryAtWorkedValues)
{
    // The values the MC test documents, through the same comparison.
    for (double T : {10.0, 16.1583, 18.307, 100.0, 1536.0, 9999.9}) {
        std::string why;
        EXPECT_TRUE((same_tail<chi_squared_tail10, 10>(T, why))) << T << ": " << why;
    }
    EXPECT_NEAR(chi_squared_tail10(10.0), 0.44049, 1e-5);
    EXPECT_NEAR(chi_squared_tail10(100.0), 5.45e-17, 1e-19);
    EXPECT_EQ(chi_squared_tail10(9999.9), 0.0);
}

TEST(ChiSquaredTail10, BitIdenticalToLibrary)
{
    const double zero_from = tail_crossing(10, 1000, 2000, false);
    const double subnormal_from = tail_crossing(10, 1000, 2000, true);
    std::chi_squared_distribution<double> null_stat(10);
    const std::vector<Sampler> samplers = {
        {"log-uniform (1e-12, 9999.9]", 900000, [](Rng& r) { return log_uniform(r, 1e-12, 9999.9); }},
        {"uniform (0, 20]", 900000, [](Rng& r) { return 20 - uniform(r, 0, 20); }},
        {"chi-squared(10) draws", 300000,
         [&](Rng& r) { return std::min(null_stat(r), 9999.9); }},
        {"uniform (0, 9999.9]", 200000, [](Rng& r) { return 9999.9 - uniform(r, 0, 9999.9); }},
        // Where the library switches method (x = T/2 at root epsilon, 4 and
        // the other thresholds of its dispatch, which a = 5 never reaches).
        {"method boundaries", 300000,
         near_points({2 * static_cast<double>(root_eps), 1.0, 1.2, 2.2, 8.0, 2000.0})},
        {"uniform [1400, 1600]", 100000, [](Rng& r) { return uniform(r, 1400, 1600); }},
        {"subnormal and zero onset", 100000, near_points({zero_from, subnormal_from})},
        {"tiny T", 100000, [](Rng& r) { return log_uniform(r, 4.9e-324, 1e-12); }},
        {"random bit patterns in (0, 9999.9]", 200000,
         [](Rng& r) {
             for (;;) {
                 const double v = from_bits(r() >> 1);
                 if (v > 0 && v <= 9999.9)
                     return v;
             }
         }},
    };
    check_all(samplers, same_tail<chi_squared_tail10, 10>, 10);
}

// Below T = 8 the fast path rounds a quicker long double when that is
// unambiguous and else repeats the library's arithmetic; both must hold up
// in long double, not only after rounding.
TEST(ChiSquaredTail10, SeriesRangeLongDoubles)
{
    const std::uint64_t count = 200000 * sample_scale();
    Rng rng(5);
    long double worst = 0;
    std::uint64_t exact_bad = 0, narrowing_bad = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const double T = (i & 1) ? 8 * unit(rng) : log_uniform(rng, 2 * static_cast<double>(root_eps), 8);
        const long double x = T / 2;
        if (x < root_eps || x >= 4)
            continue;
        const long double library = boost::math::gamma_q(5.0L, x);
        // The library's double result is this long double, narrowed.
        narrowing_bad += static_cast<double>(library) != boost_tail(10, T);
        const long double exact = chi_squared_tail_detail::q5_exact(x);
        exact_bad += std::memcmp(&exact, &library, 10) != 0;
        const long double quick = chi_squared_tail_detail::q5_quick(x);
        worst = std::max(worst, std::fabs(quick - library) / library);
    }
    EXPECT_EQ(narrowing_bad, 0u);
    EXPECT_EQ(exact_bad, 0u);
    std::cout << "largest relative gap of the quick series: " << static_cast<double>(worst * 0x1p64L)
              << " x 2^-64 (margin 64)" << std::endl;
    EXPECT_LE(worst, 0x1p-60L);  // a quarter of the margin the fast path allows
}

TEST(ChiSquaredTail2, BitIdenticalToLibrary)
{
    const double zero_from = tail_crossing(2, 1000, 2000, false);
    const std::vector<Sampler> samplers = {
        {"log-uniform over all positive doubles", 150000,
         [](Rng& r) { return log_uniform(r, 4.9e-324, DBL_MAX); }},
        {"uniform (0, 3]", 150000, [](Rng& r) { return 3 - uniform(r, 0, 3); }},
        {"uniform (0, 2000]", 100000, [](Rng& r) { return 2000 - uniform(r, 0, 2000); }},
        {"method boundaries", 100000, near_points({1.0, 1.2, 2 * log_max, zero_from, DBL_MIN})},
        {"random bit patterns, positive finite", 100000,
         [](Rng& r) {
             for (;;) {
                 const double v = from_bits(r() >> 1);
                 if (v > 0 && v < HUGE_VAL)
                     return v;
             }
         }},
    };
    check_all(samplers, same_tail<chi_squared_tail2, 2>, 2);
}

TEST(ChiSquaredTail2, ExponentialForm)
{
    EXPECT_NEAR(chi_squared_tail2(2 * std::log(10.0)), 0.1, 1e-15);
    EXPECT_NEAR(chi_squared_tail2(2.0), std::exp(-1.0), 1e-15);
    EXPECT_EQ(chi_squared_tail2(1500.0), 0.0);
}

std::string libc_fixed(double v)
{
    char buf[400];
    const int len = std::snprintf(buf, sizeof buf, "%f", v);
    return std::string(buf, static_cast<std::size_t>(len));
}

std::string fast_fixed(double v)
{
    char buf[fixed6_max_chars];
    return std::string(buf, format_fixed6(buf, v));
}

bool same_text(double v, std::string& why)
{
    const std::string fast = fast_fixed(v);
    const std::string slow = libc_fixed(v);
    if (fast == slow)
        return true;
    why = "fast \"" + fast + "\" libc \"" + slow + "\"";
    return false;
}

struct Spelled {
    double v;
    const char* text;
};

TEST(FormatFixed6, SpecialSpellings)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Spelled cases[] = {
        {0.0, "0.000000"},
        {-0.0, "-0.000000"},
        {-1e-7, "-0.000000"},
        {0.0078125, "0.007812"},        // exact tie, even digit kept
        {0.0234375, "0.023438"},        // exact tie, odd digit rounded up
        {-0.9999995, "-1.000000"},
        {std::log10(2.0), "0.301030"},
        {-7.0, "-7.000000"},
        {HUGE_VAL, "inf"},
        {-HUGE_VAL, "-inf"},
        {nan, "nan"},
        {-nan, "-nan"},
        {0x1p64, "18446744073709551616.000000"},
        {std::nextafter(0x1p64, 0.0), "18446744073709549568.000000"},
        {4.9e-324, "0.000000"},
    };
    for (const Spelled& c : cases) {
        EXPECT_EQ(fast_fixed(c.v), c.text) << std::hexfloat << c.v;
        EXPECT_EQ(libc_fixed(c.v), c.text) << std::hexfloat << c.v;
    }
}

TEST(FormatFixed6, ByteIdenticalToLibc)
{
    const std::vector<Sampler> samplers = {
        {"random bit patterns", 150000, [](Rng& r) { return from_bits(r()); }},
        {"uniform [-400, 2]", 700000, [](Rng& r) { return uniform(r, -400, 2); }},
        // k/128 with k odd are exactly halfway between two six-decimal values.
        {"exact ties k/128", 200000,
         [](Rng& r) {
             const double k = static_cast<double>(r() >> (11 + r() % 53));
             return ((r() & 1) ? -k : k) / 128;
         }},
        {"dyadic k/2^m and neighbours", 200000,
         [](Rng& r) {
             const double k = static_cast<double>((r() >> 11) | 1);
             const double v = std::ldexp(k, -static_cast<int>(r() % 90));
             return ulps_away(v, static_cast<std::int64_t>(r() % 7) - 3) * ((r() & 1) ? -1 : 1);
         }},
        {"near decimal half-way points", 300000,
         [](Rng& r) {
             const double k = static_cast<double>(r() >> (24 + r() % 40));
             const double v = (k + 0.5) / 1e6;
             return ulps_away(v, static_cast<std::int64_t>(r() % 9) - 4) * ((r() & 1) ? -1 : 1);
         }},
        {"subnormals", 50000, [](Rng& r) { return from_bits(r() & ((std::uint64_t(1) << 52) - 1)); }},
        {"near 2^53 and 2^64", 100000,
         [](Rng& r) {
             const double p = (r() & 1) ? 0x1p53 : 0x1p64;
             return ulps_away(p, static_cast<std::int64_t>(r() % 2001) - 1000) * ((r() & 1) ? -1 : 1);
         }},
        {"large magnitudes", 50000,
         [](Rng& r) { return std::ldexp(unit(r) + 1, static_cast<int>(r() % 80)) * ((r() & 1) ? -1 : 1); }},
    };
    check_all(samplers, same_text, 6);
}

}  // namespace
