#include "proofs/exp_log.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "simd/generic.hpp"

namespace {

using Rng = std::mt19937_64;
using Draw = double (*)(Rng&);
using Limits = std::numeric_limits<double>;

constexpr std::size_t kChunk = std::size_t{1} << 16;  // inputs drawn and checked at a time

std::uint64_t bits_of(double v)
{
    return Generic::as_bits(v);
}

double from_bits(std::uint64_t b)
{
    return Generic::from_bits(b);
}

// Uniform in [0, 1) with 53 random bits.
double unit(Rng& r)
{
    return static_cast<double>(r() >> 11) * 0x1p-53;
}

double uniform(Rng& r, double lo, double hi)
{
    return lo + (hi - lo) * unit(r);
}

int below(Rng& r, int n)
{
    return static_cast<int>(r() % static_cast<std::uint64_t>(n));
}

double with_random_sign(Rng& r, double v)
{
    return (r() & 1) ? v : -v;
}

// v or one of its `ulps` neighbours on either side.
double nudge(Rng& r, double v, int ulps)
{
    const int k = below(r, 2 * ulps + 1) - ulps;
    for (int i = 0; i < k; ++i)
        v = std::nextafter(v, Limits::infinity());
    for (int i = 0; i > k; --i)
        v = std::nextafter(v, -Limits::infinity());
    return v;
}

template <std::size_t N>
double pick(Rng& r, const double (&values)[N])
{
    return values[r() % N];
}

// A draw whose f, located in long double (good to 2^-11 ulp), lies within
// `window` ulps of a midpoint between doubles: where lanes are decided by the
// acceptance margin, on both sides of it, and where the library itself may
// round away from the nearest double.
double near_midpoint(Rng& r, Draw draw, long double (*f)(long double), long double window)
{
    for (;;) {
        const double v = draw(r);
        const long double y = f(v);
        if (!std::isfinite(y) || y == 0)
            continue;
        int e;
        const long double scaled = std::ldexp(std::frexp(std::fabs(y), &e), 53);
        if (std::fabs(scaled - std::floor(scaled) - 0.5L) < window)
            return v;
    }
}

// exp: specials; overflow, smallest normal and subnormal results, rounding
// to 0, the accepted range's ends and where exp rounds to 1; tiny and
// subnormal inputs.
const double kExpValues[] = {0.0, -0.0, Limits::infinity(), -Limits::infinity(),
                             Limits::quiet_NaN(), -Limits::quiet_NaN(), Limits::signaling_NaN(),
                             from_bits(0x7FF8000000012345), Limits::denorm_min(),
                             -Limits::denorm_min(), Limits::min(), -Limits::min(), Limits::max(),
                             Limits::lowest(), 1.0, -1.0, 500.0};
const double kExpEdges[] = {709.782712893384,    -708.3964185322641, -745.1332191019411,
                            -744.44007192138126, 700.0,              -700.0,
                            0x1p-53,             -0x1p-54};

double exp_special(Rng& r)
{
    switch (below(r, 3)) {
    case 0:
        return pick(r, kExpValues);
    case 1:
        return nudge(r, pick(r, kExpEdges), 40);
    default:
        return with_random_sign(r, std::ldexp(uniform(r, 1, 2), -60 - below(r, 1015)));
    }
}

// At and around multiples of ln2/256 and their midpoints: every index and
// index boundary of a table of 2^(j/N) for N up to 512, densely near 0 and
// spread over the whole range.
double exp_table_cell(Rng& r)
{
    static const long double step = logl(2.0L) / 256;
    const long k = (r() & 1) ? below(r, 5201) - 2600 : below(r, 516001) - 258000;
    const long double half = (r() & 1) ? 0.5L : 0.0L;
    return nudge(r, static_cast<double>((k + half) * step), 3);
}

// Predictors as the interaction test forms them (the scan caps them at 500).
double exp_predictor(Rng& r)
{
    std::normal_distribution<double> expr(0.0, 2.0), coef(0.0, 3.0);
    const double b0 = coef(r), b1 = coef(r), b2 = coef(r), b3 = coef(r) / 4;
    const double a = expr(r), b = expr(r);
    return (((0.0 + 1.0 * b0) + a * b1) + b * b2) + (a * b) * b3;
}

double exp_moderate(Rng& r)
{
    return below(r, 4) == 0 ? uniform(r, -700.0, 700.0) : uniform(r, -40.0, 40.0);
}

// Within 0.012 ulp: the acceptance margin is 0.0116 ulp, the library was
// seen rounding away from the nearest double up to 0.0065 ulp off.
double exp_midpoint(Rng& r)
{
    return near_midpoint(r, exp_moderate, expl, 0.012L);
}

double exp_random(Rng& r)
{
    switch (below(r, 3)) {
    case 0:
        return uniform(r, -750.0, 710.0);
    case 1:
        return with_random_sign(r, std::exp(uniform(r, std::log(1e-300), std::log(710.0))));
    default:
        return uniform(r, -40.0, 40.0);  // where the interaction test mostly works
    }
}

// log: specials, non-positive and subnormal inputs, the ends of the normal
// range, and results that are powers of two or next to one.
const double kLogValues[] = {0.0, -0.0, Limits::infinity(), -Limits::infinity(),
                             Limits::quiet_NaN(), -Limits::quiet_NaN(), Limits::signaling_NaN(),
                             from_bits(0x7FF8000000012345), from_bits(0xFFF0000000000001),
                             Limits::denorm_min(), -Limits::denorm_min(), Limits::min(),
                             -Limits::min(), Limits::max(), Limits::lowest(), 1.0, -1.0, 2.0, 0.5,
                             std::exp(1.0), std::exp(-1.0)};
const double kLogEdges[] = {Limits::min(), Limits::max(), Limits::denorm_min() * 1000};

double log_special(Rng& r)
{
    switch (below(r, 5)) {
    case 0:
        return pick(r, kLogValues);
    case 1:
        return nudge(r, pick(r, kLogEdges), 40);
    case 2:
        return with_random_sign(r, from_bits(r() % 0x0010000000000000));  // subnormal
    case 3:
        return -std::ldexp(1.0 + below(r, 1024) / 1024.0, below(r, 2000) - 1000);
    default:
        return nudge(r, std::exp(with_random_sign(r, std::ldexp(1.0, below(r, 70) - 60))), 3);
    }
}

// Powers of two and their neighbours: where the exponent and cell change.
double log_binade_edge(Rng& r)
{
    return nudge(r, std::ldexp(1.0, below(r, 2046) - 1022), 8);
}

// At and around every boundary of a table of up to 1024 cells per binade,
// densely in the binades next to 1.
double log_cell_edge(Rng& r)
{
    const int e = (r() & 1) ? below(r, 2046) - 1022 : -below(r, 2);
    return nudge(r, std::ldexp(1.0 + below(r, 1024) / 1024.0, e), 6);
}

// Tiny results: 1 -+ j ulps, and 1 -+ d for d over all scales down to an ulp.
double log_near_one(Rng& r)
{
    if (r() & 1) {
        const std::uint64_t j = static_cast<std::uint64_t>(below(r, 20000));
        return from_bits((r() & 1) ? bits_of(1.0) + j : bits_of(1.0) - j);
    }
    const double d = std::ldexp(uniform(r, 1, 2), -1 - below(r, 53));
    return (r() & 1) ? 1.0 + d : 1.0 - d;
}

// Probabilities (uniform, log-uniform down to 1e-300, dense on [0.5, 1] and
// just below 1), values above 1 up to 1e300, and random bit patterns.
// Log-uniform values get a random mantissa: drawn as exp of a uniform
// double, log would give that double back almost exactly, far from any
// rounding midpoint.
double log_random(Rng& r)
{
    switch (below(r, 6)) {
    case 0:
        return unit(r);
    case 1:
        return std::ldexp(1.0 + unit(r), -1 - below(r, 996));
    case 2:
        return 0.5 + 0.5 * unit(r);
    case 3:
        return 1.0 - std::ldexp(unit(r), -below(r, 30));
    case 4:
        return std::ldexp(1.0 + unit(r), below(r, 996));
    default:
        return from_bits(r());
    }
}

// Within 0.04 ulp: the acceptance margin is 0.0342 ulp.
double log_midpoint(Rng& r)
{
    return near_midpoint(r, log_random, logl, 0.04L);
}

const Draw kExpDraws[] = {exp_special, exp_table_cell, exp_midpoint, exp_predictor, exp_random};
const Draw kLogDraws[] = {log_special,  log_binade_edge, log_cell_edge,
                          log_near_one, log_midpoint,    log_random};

// n inputs, from each generator in turn.
template <std::size_t N>
void draw_inputs(std::vector<double>& x, std::size_t n, const Draw (&draws)[N], Rng& r)
{
    x.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = draws[i % N](r);
}

// batch over [0, n) in pieces: short ones (partial vectors, unaligned
// starts) and long ones (partial and whole blocks).
void in_pieces(const BatchFunction& batch, const double* x, double* y, std::size_t n)
{
    std::minstd_rand lengths(static_cast<std::minstd_rand::result_type>(n));
    for (std::size_t i = 0, len = 0; i < n; i += len) {
        const std::size_t longest = lengths() % 2 ? 20 : 1100;
        len = std::min<std::size_t>(n - i, 1 + lengths() % longest);
        batch(x + i, y + i, len);
    }
}

void compare(const std::vector<double>& x, const std::vector<double>& y,
             const std::vector<double>& want, ProofResult& result)
{
    for (std::size_t i = 0; i < x.size(); ++i) {
        ++result.checked;
        if (bits_of(y[i]) != bits_of(want[i]) && result.mismatches++ == 0)
            result.first_bad_input = x[i];
    }
}

void check_against(const BatchFunction& batch, const std::vector<double>& x,
                   const std::vector<double>& want, ProofResult& result)
{
    std::vector<double> y(x.size());
    in_pieces(batch, x.data(), y.data(), x.size());
    compare(x, y, want, result);
    y = x;
    in_pieces(batch, y.data(), y.data(), y.size());
    compare(x, y, want, result);
}

}  // namespace

void check_batch(const BatchFunction& batch, const std::vector<double>& x,
                 double (*library)(double), ProofResult& result)
{
    std::vector<double> want(x.size());
    std::transform(x.begin(), x.end(), want.begin(), library);
    check_against(batch, x, want, result);
}

ProofResult prove_exp(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed)
{
    const ExactKernels& k = kernels.exact;
    Rng rng(seed);
    ProofResult result;
    std::vector<double> x, want, want_capped;
    for (std::uint64_t done = 0, chunk = 0; done < inputs; done += x.size(), ++chunk) {
        draw_inputs(x, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, inputs - done)),
                    kExpDraws, rng);
        // The scan's cap, one that caps many lanes, and one anywhere.
        const double caps[] = {500.0, -3.5, uniform(rng, -40.0, 40.0)};
        const double cap = caps[chunk % 3];
        const double at_cap = std::exp(cap);
        want.resize(x.size());
        want_capped.resize(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            want[i] = std::exp(x[i]);
            want_capped[i] = x[i] < cap ? want[i] : at_cap;
        }
        check_against(k.exp_batch, x, want, result);
        check_against(
            [&](const double* in, double* out, std::size_t n) {
                k.exp_batch_capped(in, out, n, cap);
            },
            x, want_capped, result);
    }
    return result;
}

ProofResult prove_log(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed)
{
    Rng rng(seed);
    ProofResult result;
    std::vector<double> x, want;
    for (std::uint64_t done = 0; done < inputs; done += x.size()) {
        draw_inputs(x, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, inputs - done)),
                    kLogDraws, rng);
        want.resize(x.size());
        for (std::size_t i = 0; i < x.size(); ++i)
            want[i] = std::log(x[i]);
        check_against(kernels.exact.log_exact_batch, x, want, result);
    }
    return result;
}
