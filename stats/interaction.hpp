#pragma once

// The IT: a likelihood-ratio test (2 df) of whether the product of the two
// genes' expression adds to the logit model on the two expressions.

#include <cstddef>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "stats/logit.hpp"
#include "stats/newton_raphson.hpp"

// The IT result for statistic stat: 1.0 unless stat > 0 (NaN included), else
// the chi-squared upper tail with 2 df, exp(-stat/2).
inline double it_pvalue(double stat) {
    if (!(stat > 0)) {
        return 1.0;
    }
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared_distribution<double>(2.0), stat));
}

// Fits the reduced design (1, x1, x2) and then the full one (1, x1, x2, x1*x2)
// from zero coefficients. Writes both log-likelihoods and the statistic (twice
// their difference) and returns it_pvalue of the statistic.
template <class MX, class MY>
double interaction_test(MX& X, MY& Y, double& llR, double& llF, double& stat) {
    namespace ublas = boost::numeric::ublas;
    unsigned m = static_cast<unsigned>(X.size1());
    const std::size_t xcols = X.size2();

    // Both designs are built once here and read by every iteration of the fits.
    ublas::matrix<double> Z(m, 4);
    ublas::matrix<double> Zr(m, 3);
    const double* x = X.data().begin();
    double* z = Z.data().begin();
    double* zr = Zr.data().begin();
    for (std::size_t i = 0; i < m; ++i) {
        const double x1 = x[i * xcols];
        const double x2 = x[i * xcols + 1];
        z[4 * i] = 1.0;
        z[4 * i + 1] = x1;
        z[4 * i + 2] = x2;
        z[4 * i + 3] = x1 * x2;
        zr[3 * i] = 1.0;
        zr[3 * i + 1] = x1;
        zr[3 * i + 2] = x2;
    }

    ublas::vector<double> betaR(6, 0.0);
    ublas::vector<double> betaF(8, 0.0);
    newton_raphson(Zr, Y, betaR, m);
    newton_raphson(Z, Y, betaF, m);
    llR = loglikelihood(Zr, Y, betaR, m);
    llF = loglikelihood(Z, Y, betaF, m);

    stat = (llF - llR) + (llF - llR);
    return it_pvalue(stat);
}
