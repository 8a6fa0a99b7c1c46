#pragma once

// The MC test: likelihood ratio of one bivariate normal for all three genotype
// classes against one per class, with its chi-squared (10 df) p-value.

#include <cmath>
#include <cstddef>

#include <boost/math/distributions/chi_squared.hpp>

#include "io/globals.hpp"
#include "stats/group_stats.hpp"

// Determinant of a 2x2 covariance matrix: variances on the diagonal.
inline double covariance_det(double var1, double var2, double cov) {
    return (var1 * var2) - cov * cov;
}

// One or two points always lie on a line, so such a class's covariance is
// singular; rounding would otherwise leave a tiny determinant of either sign.
inline double class_covariance_det(double var1, double var2, double cov, double count) {
    if (count == 1.0 || count == 2.0) {
        return 0.0;
    }
    return covariance_det(var1, var2, cov);
}

// The likelihood-ratio statistic from the whole-sample determinant and the
// three class determinants, left to right: ln(det3)*N - ln(det0)*c0 - ...
inline double mc_statistic(double det3, double N, const double det[3], const double counts[3]) {
    double T = std::log(det3) * N;
    T = T - std::log(det[0]) * counts[0];
    T = T - std::log(det[1]) * counts[1];
    T = T - std::log(det[2]) * counts[2];
    return T;
}

// The MC result for statistic T: 2.0 above the cap 9999.9, 1.0 unless T > 0
// (NaN included), else tail(T), the chi-squared upper tail with 10 df
// (exactly 0 once it underflows, from about T = 1536).
template <class Tail>
double mc_pvalue_with(double T, Tail tail) {
    if (T > 9999.9) {
        return 2.0;
    }
    if (!(T > 0)) {
        return 1.0;
    }
    return tail(T);
}

inline double mc_pvalue(double T) {
    return mc_pvalue_with(T, [](double t) {
        return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(10), t));
    });
}

// Fills the group statistics (zero on entry, kept for the LDA likelihood),
// writes the statistic to testStatistic and returns mc_pvalue of it.
template <class MX, class MY, class MG, class MS, class MC, class VC, class G1, class G2>
double test_mean_cov(MX& X, MY& Y, MG& GeneMoments, MS& groupStats, MC& groupCov, VC& groupCounts,
                     double& testStatistic, G1& g1, G2& g2) {
    unsigned N = static_cast<unsigned>(n);
    get_covmat_plusone_new(X, Y, GeneMoments, groupCov, groupStats, N, g1, g2, groupCounts);

    double det[3];
    for (std::size_t k = 0; k < 3; ++k) {
        det[k] = class_covariance_det(groupCov(k, 0), groupCov(k, 1), groupCov(k, 2), groupCounts(k));
    }
    const double counts[3] = {groupCounts(0), groupCounts(1), groupCounts(2)};
    const double T = mc_statistic(covariance_det(groupCov(3, 0), groupCov(3, 1), groupCov(3, 2)),
                                  static_cast<double>(N), det, counts);
    testStatistic = T;
    return mc_pvalue(T);
}
