#pragma once

// Upper-tail probabilities of the chi-squared distribution for the two
// degrees of freedom the scan uses. Each returns exactly the double that
//   boost::math::cdf(boost::math::complement(
//       boost::math::chi_squared_distribution<double>(k), x))
// returns, bit for bit, but skips the library's generic dispatch on the
// paths that matter: the library result is the definition, this is only a
// faster way to reach the same bits. Inputs outside the replicated paths
// (including those the library rejects) are passed to the library itself.

// k = 10; the MC test calls it for 0 < T <= 9999.9.
double chi_squared_tail10(double T);

// k = 2; the interaction test calls it for finite x > 0.
double chi_squared_tail2(double x);

namespace chi_squared_tail_detail {
// The long double value that chi_squared_tail10 rounds on its quick path
// (T/2 = x from root epsilon below 4) when the rounding is unambiguous; it
// differs from the library's own long double by far less than the 2^-58
// relative margin that path allows. Exposed so tests can measure that.
long double q5_quick(long double x);
// The library's own long double arithmetic on that range, the fallback.
long double q5_exact(long double x);
}  // namespace chi_squared_tail_detail
