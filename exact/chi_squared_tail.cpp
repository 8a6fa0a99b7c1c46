#include "exact/chi_squared_tail.hpp"

#include <cmath>

#include <boost/math/distributions/chi_squared.hpp>

// The library evaluates Q(a, x) = gamma_q(k/2, x/2) in long double and
// narrows the result to double at the end. For integer a it picks its
// method by x:
//   x < root_epsilon (a > 1 only)   : a two-term expansion of P     -> library
//   x below the finite-sum range    : series for P times the prefix -> here
//   a <= x + 1 and x < log_max      : finite sum for Q              -> here
//   x >= log_max                    : asymptotic / underflow        -> library
// The code below repeats the chosen method operation for operation in long
// double; -ffp-contract=off keeps the compiler from fusing any of them. The
// one exception, a cheaper power in the series range, is only trusted where
// it cannot change the rounded result.

namespace {

using real = long double;

double boost_tail(double df, double x)
{
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(df), x));
}

// The part of the library's regularised prefix that depends on a only:
// sqrt(agh / e) / lanczos_sum_expG_scaled(a), and agh itself.
struct prefix_constants {
    real agh;
    real scale;
};

prefix_constants make_prefix_constants(real a)
{
    using lanczos_type = boost::math::lanczos::lanczos<real, boost::math::policies::policy<>>::type;
    prefix_constants c;
    c.agh = a + static_cast<real>(lanczos_type::g()) - real(0.5);
    c.scale = std::sqrt(c.agh / boost::math::constants::e<real>()) / lanczos_type::lanczos_sum_expG_scaled(a);
    return c;
}

// z^a e^(a - z) scaled by the Lanczos factor, for z where neither a*log(z/agh)
// nor a - z leaves the long double exponent range (so the direct product is
// the library's choice).
real regularised_prefix(real a, real z, const prefix_constants& c)
{
    real prefix = std::pow(z / c.agh, a) * std::exp(a - z);
    prefix *= c.scale;
    return prefix;
}

// The same for a = 5 with the power by multiplication: powl computes integer
// powers from 4 up by its general logarithmic method, which costs more than
// everything else here together. Within a few long double ulps of the above.
real regularised_prefix5_quick(real z, const prefix_constants& c)
{
    const real y = z / c.agh;
    const real y2 = y * y;
    real prefix = (y2 * y2 * y) * std::exp(5 - z);
    prefix *= c.scale;
    return prefix;
}

// Q(a, x) = 1 - P(a, x) by the series for P, with the subtraction folded
// into the series' start value as the library does. `prefix` is the
// regularised prefix of (a, x).
real q_by_p_series(real a, real x, real prefix)
{
    real result = prefix;
    if (result == 0)
        return 1;  // P underflowed: the library inverts 0
    real init_value = 1;
    init_value /= result;
    init_value *= -a;

    const real factor = std::numeric_limits<real>::epsilon();
    real series_a = a;
    real term = 1;
    real sum = init_value;
    real next_term;
    do {
        next_term = term;
        series_a += 1;
        term *= x / series_a;
        sum += next_term;
    } while (std::fabs(factor * sum) < std::fabs(next_term));

    result *= sum / a;
    result = -result;
    if (result > 1)
        result = 1;
    return result;
}

// Q(a, x) for integer a by its finite sum e^-x (1 + x + ... + x^(a-1)/(a-1)!).
real q_finite_sum(unsigned a, real x)
{
    real e = std::exp(-x);
    real sum = e;
    if (sum != 0) {
        real term = sum;
        for (unsigned k = 1; k < a; ++k) {
            term /= k;
            term *= x;
            sum += term;
        }
    }
    if (sum > 1)
        sum = 1;
    return sum;
}

const real log_max = boost::math::tools::log_max_value<real>();

const prefix_constants& constants5()
{
    static const prefix_constants c = make_prefix_constants(5);
    return c;
}

}  // namespace

long double chi_squared_tail_detail::q5_quick(long double x)
{
    return q_by_p_series(5, x, regularised_prefix5_quick(x, constants5()));
}

long double chi_squared_tail_detail::q5_exact(long double x)
{
    return q_by_p_series(5, x, regularised_prefix(5, x, constants5()));
}

double chi_squared_tail10(double T)
{
    if (!(T > 0) || !(T < HUGE_VAL))
        return boost_tail(10, T);
    const real x = T / 2;  // halved in double, as the library does
    if (real(5) <= x + 1 && x < log_max)
        return static_cast<double>(q_finite_sum(5, x));
    if (x >= boost::math::tools::root_epsilon<real>() && x < 4) {
        // The quick prefix moves the long double result by far less than
        // `margin` (Q >= 0.62 here, so the series' cancellation cannot
        // amplify it much). Rounding to double is monotone: when both ends
        // of the interval round alike, so does the library's value inside
        // it. Otherwise repeat the library's own arithmetic.
        const real quick = chi_squared_tail_detail::q5_quick(x);
        const real margin = quick * 0x1p-58L;
        const double lo = static_cast<double>(quick - margin);
        const double hi = static_cast<double>(quick + margin);
        if (lo == hi)
            return lo;
        return static_cast<double>(chi_squared_tail_detail::q5_exact(x));
    }
    return boost_tail(10, T);
}

double chi_squared_tail2(double x2)
{
    static const prefix_constants c1 = make_prefix_constants(1);
    if (!(x2 > 0) || !(x2 < HUGE_VAL))
        return boost_tail(2, x2);
    const real x = x2 / 2;
    if (x > 0.6 && x < log_max)
        return static_cast<double>(q_finite_sum(1, x));
    // Down to the smallest positive x the prefix terms stay in range.
    if (x > 0 && x <= 0.6)
        return static_cast<double>(q_by_p_series(1, x, regularised_prefix(1, x, c1)));
    return boost_tail(2, x2);
}
