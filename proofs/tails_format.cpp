#include "proofs/tails_format.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include <boost/math/distributions/chi_squared.hpp>

#include "exact/chi_squared_tail.hpp"
#include "exact/fixed_format.hpp"
#include "fast/kernels.hpp"
#include "fast/mc_quick.hpp"
#include "stats/mean_cov.hpp"

namespace {

using Rng = std::mt19937_64;
using Draw = std::function<double(Rng&)>;

// A family of inputs and its share of a sweep.
struct Family {
    const char* name;
    std::uint64_t weight;
    Draw draw;
};

std::uint64_t bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double from_bits(std::uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

double unit(Rng& r) { return static_cast<double>(r() >> 11) * 0x1p-53; }
double uniform(Rng& r, double lo, double hi) { return lo + (hi - lo) * unit(r); }
double log_uniform(Rng& r, double lo, double hi) { return std::exp(uniform(r, std::log(lo), std::log(hi))); }

// Steps k representable doubles away from a positive finite v.
double ulps_away(double v, std::int64_t k) { return from_bits(bits(v) + static_cast<std::uint64_t>(k)); }

double either_sign(Rng& r, double v) { return (r() & 1) ? -v : v; }

// A positive finite double of random bits, at most `max`.
double random_bits(Rng& r, double max)
{
    for (;;) {
        const double v = from_bits(r() >> 1);
        if (v > 0 && v <= max)
            return v;
    }
}

// Within a few thousand ulps, or a small relative distance, of one of the points.
Draw near(std::vector<double> points)
{
    return [points](Rng& r) {
        const double p = points[r() % points.size()];
        if (r() & 1)
            return ulps_away(p, static_cast<std::int64_t>(r() % 8001) - 4000);
        const double rel = std::pow(10.0, -uniform(r, 1, 15));
        return p * (1 + ((r() & 1) ? rel : -rel));
    };
}

template <class Real>
std::string text(Real v)
{
    std::ostringstream s;
    s.precision(21);
    s << v;
    return s.str();
}

// Counts one comparison; describes the first mismatch.
void record(SweepResult& res, bool same, const char* family, double input,
            const std::function<std::string()>& why)
{
    ++res.checked;
    if (same || res.mismatches++ > 0)
        return;
    std::ostringstream s;
    s << family << ", input " << std::hexfloat << input << " (" << text(input) << "): " << why();
    res.first = s.str();
}

// Draws `inputs` values over the families in proportion to their weights.
void sweep(const std::vector<Family>& families, std::uint64_t inputs, Rng& rng,
           const std::function<void(const char*, double)>& check)
{
    std::uint64_t total = 0;
    for (const Family& f : families)
        total += f.weight;
    for (const Family& f : families)
        for (std::uint64_t i = 0, count = inputs * f.weight / total; i < count; ++i)
            check(f.name, f.draw(rng));
}

double library_tail(double df, double x)
{
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(df), x));
}

// The first double from which the library's tail is 0 (or, with
// `belowNormal`, below the smallest normal double), by bisection.
double tail_onset(double df, bool belowNormal)
{
    double lo = 1000, hi = 2000;
    while (ulps_away(lo, 1) < hi) {
        const double mid = from_bits((bits(lo) + bits(hi)) / 2);
        const double q = library_tail(df, mid);
        ((belowNormal ? q < DBL_MIN : q == 0) ? hi : lo) = mid;
    }
    return hi;
}

void check_tail(SweepResult& res, double (*fast)(double), double df, const char* family, double x)
{
    const double f = fast(x), lib = library_tail(df, x);
    record(res, bits(f) == bits(lib), family, x,
           [&] { return "fast " + text(f) + ", library " + text(lib); });
}

// Below x = T/2 = 4 the 10-df tail rounds a quicker long double when that is
// unambiguous, else repeats the library's arithmetic: the latter must be the
// library's long double itself, the former within a quarter of its 2^-58
// margin, and the library's double must be that long double narrowed.
void check_series(SweepResult& res, const char* family, double T)
{
    const long double x = T / 2;
    if (x < boost::math::tools::root_epsilon<long double>() || x >= 4)
        return;
    const long double library = boost::math::gamma_q(5.0L, x);
    const long double exact = chi_squared_tail_detail::q5_exact(x);
    const long double quick = chi_squared_tail_detail::q5_quick(x);
    const bool same = std::memcmp(&exact, &library, 10) == 0 &&
                      static_cast<double>(library) == library_tail(10, T) &&
                      std::fabs(quick - library) <= library * 0x1p-60L;
    record(res, same, family, T, [&] {
        return "series: exact " + text(exact) + ", quick " + text(quick) + ", library " + text(library);
    });
}

}  // namespace

SweepResult prove_chi_squared_tails(std::uint64_t inputs, std::uint64_t seed)
{
    SweepResult res;
    Rng rng(seed);
    const double rootEps2 = 2 * static_cast<double>(boost::math::tools::root_epsilon<long double>());
    const double logMax2 = 2 * static_cast<double>(boost::math::tools::log_max_value<long double>());
    std::chi_squared_distribution<double> nullStatistic(10);
    const std::vector<Family> tail10 = {
        {"log-uniform (1e-12, 9999.9]", 9, [](Rng& r) { return log_uniform(r, 1e-12, 9999.9); }},
        {"uniform (0, 20]", 9, [](Rng& r) { return 20 - uniform(r, 0, 20); }},
        {"chi-squared(10) draws", 3, [&](Rng& r) { return std::min(nullStatistic(r), 9999.9); }},
        {"uniform (0, 9999.9]", 2, [](Rng& r) { return 9999.9 - uniform(r, 0, 9999.9); }},
        // Where the library switches method (x = T/2 at root epsilon, 4 and
        // the other thresholds of its dispatch, which a = 5 never reaches).
        {"method boundaries", 3, near({rootEps2, 1.0, 1.2, 2.2, 8.0, 2000.0})},
        {"uniform [1400, 1600]", 1, [](Rng& r) { return uniform(r, 1400, 1600); }},
        {"subnormal and zero onsets", 1, near({tail_onset(10, false), tail_onset(10, true)})},
        {"tiny T", 1, [](Rng& r) { return log_uniform(r, 4.9e-324, 1e-12); }},
        {"random bits in (0, 9999.9]", 2, [](Rng& r) { return random_bits(r, 9999.9); }},
    };
    const std::vector<Family> tail2 = {
        {"log-uniform over the positive doubles", 3, [](Rng& r) { return log_uniform(r, 4.9e-324, DBL_MAX); }},
        {"uniform (0, 3]", 3, [](Rng& r) { return 3 - uniform(r, 0, 3); }},
        {"uniform (0, 2000]", 2, [](Rng& r) { return 2000 - uniform(r, 0, 2000); }},
        {"method boundaries", 2, near({1.0, 1.2, logMax2, tail_onset(2, false), DBL_MIN})},
        {"random bits, positive finite", 2, [](Rng& r) { return random_bits(r, DBL_MAX); }},
    };
    const std::vector<Family> series = {
        {"uniform (0, 8)", 1, [](Rng& r) { return 8 * unit(r); }},
        {"log-uniform (root epsilon, 8)", 1, [&](Rng& r) { return log_uniform(r, rootEps2, 8); }},
    };
    sweep(tail10, inputs / 5 * 3, rng,
          [&](const char* f, double T) { check_tail(res, chi_squared_tail10, 10, f, T); });
    sweep(tail2, inputs / 5, rng,
          [&](const char* f, double x) { check_tail(res, chi_squared_tail2, 2, f, x); });
    sweep(series, inputs / 5, rng, [&](const char* f, double T) { check_series(res, f, T); });
    return res;
}

SweepResult prove_fixed_format(std::uint64_t inputs, std::uint64_t seed)
{
    SweepResult res;
    Rng rng(seed);
    const std::vector<Family> families = {
        {"random bit patterns", 3, [](Rng& r) { return from_bits(r()); }},
        {"uniform [-400, 2]", 14, [](Rng& r) { return uniform(r, -400, 2); }},
        // k/128 with k odd lies exactly halfway between two six-decimal values.
        {"exact ties k/128", 4, [](Rng& r) {
             const std::uint64_t shift = 11 + r() % 53;
             return either_sign(r, static_cast<double>(r() >> shift) / 128);
         }},
        {"dyadic k/2^m and neighbours", 4, [](Rng& r) {
             const int m = static_cast<int>(r() % 90);
             const double v = std::ldexp(static_cast<double>((r() >> 11) | 1), -m);
             return either_sign(r, ulps_away(v, static_cast<std::int64_t>(r() % 7) - 3));
         }},
        {"near decimal half-way points", 6, [](Rng& r) {
             const std::uint64_t shift = 24 + r() % 40;
             const double v = (static_cast<double>(r() >> shift) + 0.5) / 1e6;
             return either_sign(r, ulps_away(v, static_cast<std::int64_t>(r() % 9) - 4));
         }},
        {"subnormals", 1, [](Rng& r) { return from_bits(r() & ((std::uint64_t(1) << 52) - 1)); }},
        {"near 2^53 and 2^64", 2, [](Rng& r) {
             const double p = (r() & 1) ? 0x1p53 : 0x1p64;
             return either_sign(r, ulps_away(p, static_cast<std::int64_t>(r() % 2001) - 1000));
         }},
        {"large magnitudes", 1, [](Rng& r) {
             const int e = static_cast<int>(r() % 80);
             return either_sign(r, std::ldexp(unit(r) + 1, e));
         }},
    };
    sweep(families, inputs, rng, [&](const char* family, double v) {
        char fast[fixed6_max_chars], libc[fixed6_max_chars + 8];
        const std::string f(fast, format_fixed6(fast, v));
        std::snprintf(libc, sizeof libc, "%f", v);
        record(res, f == libc, family, v, [&] { return "fast \"" + f + "\", printf \"" + libc + "\""; });
    });
    return res;
}

SweepResult prove_quick_pvalue_text(std::uint64_t inputs, std::uint64_t seed)
{
    SweepResult res;
    Rng rng(seed);
    const double thresholds[] = {0.0, 1e-7, 1e-4, 0.05, 0.5, 3.0, -1.0, std::nan("")};
    const double edges[] = {0.0, -1.0, 1e-6, 1e-3, 1400.0, 5000.0, 9999.9, 1e5, HUGE_VAL, -HUGE_VAL, std::nan("")};
    const std::vector<Family> statistics = {
        {"log-uniform [1e-4, 2000]", 6, [](Rng& r) { return log_uniform(r, 1e-4, 2000); }},
        {"multiples of 2^-20 below 20000", 2,
         [](Rng& r) { return std::ldexp(static_cast<double>(r() % (std::uint64_t(20000) << 20)), -20); }},
        {"sentinels and edges", 1, [&](Rng& r) { return edges[r() % std::size(edges)]; }},
    };
    const std::vector<Isa> levels = supported_isas();
    std::uint64_t drawn = 0;
    for (const double threshold : thresholds) {
        const QuickThreshold quick = quick_threshold(threshold);
        sweep(statistics, inputs / std::size(thresholds), rng, [&](const char* family, double T) {
            // An estimate anywhere inside a bound typical of a few hundred
            // samples' worth of logarithm terms, its very edges included.
            const double errT = kStatisticRelativeError * (std::fabs(T) + 2000.0);
            const std::uint64_t pick = rng() % 4;
            const double estimate = T + (pick == 0 ? errT : pick == 1 ? -errT : uniform(rng, -errT, errT));
            // The estimate's logarithm by every level's log_batch in turn.
            const Kernels& k = kernels_for(levels[drawn++ % levels.size()]);
            double sum = tail10_sum(estimate * 0.5), logSum = 0.0;
            k.fast.log_batch(&sum, &logSum, 1);
            long long micro = 0;
            if (!quick_pruned_micro(estimate, errT, logSum, quick, micro))
                return;
            const double p = mc_pvalue_with(T, chi_squared_tail10);
            char exact[fixed6_max_chars], got[64];
            const std::string want(exact, format_fixed6(exact, std::log10(p)));
            const unsigned long long m = static_cast<unsigned long long>(-micro);
            std::snprintf(got, sizeof got, "-%llu.%06llu", m / 1000000, m % 1000000);
            record(res, !(threshold > p) && want == got, family, T, [&] {
                return "threshold " + text(threshold) + ", estimate " + text(estimate) + ": quick " +
                       got + ", exact " + want + (threshold > p ? " (passes)" : "");
            });
        });
    }
    return res;
}
