#pragma once

// The MC test: likelihood ratio of one bivariate normal for all three genotype
// classes against one per class, with its chi-squared (10 df) p-value.

#include <cmath>
#include <cstddef>

#include <boost/math/distributions/chi_squared.hpp>

#include "io/globals.hpp"
#include "stats/group_stats.hpp"

namespace mc_detail {

// Determinant of covariance row r of groupCov.
template <class MC>
double covariance_det(MC& groupCov, std::size_t r) {
    return (groupCov(r, 0) * groupCov(r, 1)) - groupCov(r, 2) * groupCov(r, 2);
}

// One or two points always lie on a line, so such a class's covariance is
// singular; rounding would otherwise leave a tiny determinant of either sign.
template <class MC, class VC>
double class_det(MC& groupCov, VC& groupCounts, std::size_t k) {
    const double c = groupCounts(k);
    if (c == 1.0 || c == 2.0) {
        return 0.0;
    }
    return covariance_det(groupCov, k);
}

}  // namespace mc_detail

// The MC result for statistic T: 2.0 above the cap 9999.9, 1.0 unless T > 0
// (NaN included), else the chi-squared upper tail with 10 df (exactly 0 once
// it underflows, from about T = 1536).
inline double mc_pvalue(double T) {
    if (T > 9999.9) {
        return 2.0;
    }
    if (!(T > 0)) {
        return 1.0;
    }
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(10), T));
}

// Fills the group statistics (zero on entry, kept for the LDA likelihood),
// writes the statistic to testStatistic and returns mc_pvalue of it.
template <class MX, class MY, class MG, class MS, class MC, class VC, class G1, class G2>
double test_mean_cov(MX& X, MY& Y, MG& GeneMoments, MS& groupStats, MC& groupCov, VC& groupCounts,
                     double& testStatistic, G1& g1, G2& g2) {
    unsigned N = static_cast<unsigned>(n);
    get_covmat_plusone_new(X, Y, GeneMoments, groupCov, groupStats, N, g1, g2, groupCounts);

    double T = std::log(mc_detail::covariance_det(groupCov, 3)) * static_cast<double>(N);
    T = T - std::log(mc_detail::class_det(groupCov, groupCounts, 0)) * groupCounts(0);
    T = T - std::log(mc_detail::class_det(groupCov, groupCounts, 1)) * groupCounts(1);
    T = T - std::log(mc_detail::class_det(groupCov, groupCounts, 2)) * groupCounts(2);
    testStatistic = T;
    return mc_pvalue(T);
}
