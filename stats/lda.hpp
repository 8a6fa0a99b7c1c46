#pragma once

// The LDA likelihood: the closed-form three-class linear discriminant of two
// genes, read as the coefficients of the logit model, and that model's
// log-likelihood of the observed genotype classes.

#include <cstddef>

#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/logit.hpp"

// The discriminant coefficients, in the logit model's layout (class 0's
// intercept, gene 1, gene 2, then class 1's), from the group statistics the MC
// test left and the global n. Returns false, leaving beta alone, when the
// pooled covariance's determinant is exactly 0.0.
template <class MS, class MC, class VC>
bool lda_coefficients(MS& groupStats, MC& groupCov, VC& groupCounts, double* beta) {
    const double c0 = groupCounts(0);
    const double c1 = groupCounts(1);
    const double c2 = groupCounts(2);

    // Pooled within-class covariance, unbiased for three classes.
    const double divisor = static_cast<double>(n - 3);
    const double w00 = ((c0 * groupCov(0, 0) + c1 * groupCov(1, 0)) + c2 * groupCov(2, 0)) / divisor;
    const double w01 = ((c0 * groupCov(0, 2) + c1 * groupCov(1, 2)) + c2 * groupCov(2, 2)) / divisor;
    const double w11 = ((c0 * groupCov(0, 1) + c1 * groupCov(1, 1)) + c2 * groupCov(2, 1)) / divisor;
    const double w10 = w01;

    const double det = w00 * w11 - w01 * w10;
    if (det == 0.0) {
        return false;
    }
    const double i00 = w11 / det;
    const double i11 = w00 / det;
    const double i01 = (-w01) / det;

    double mean1[3];
    double mean2[3];
    for (std::size_t k = 0; k < 3; ++k) {
        mean1[k] = groupStats(k, 0) / groupCounts(k);
        mean2[k] = groupStats(k, 1) / groupCounts(k);
    }

    // Discriminant of class k against the baseline class 2; no prior term.
    for (std::size_t k = 0; k < 2; ++k) {
        const double a1 = mean1[k];
        const double a2 = mean2[k];
        const double r1 = mean1[2];
        const double r2 = mean2[2];
        beta[3 * k] = -0.5 * (((a1 * a1 - r1 * r1) * i00 + (a1 * a2 - r1 * r2) * (2 * i01)) +
                              (a2 * a2 - r2 * r2) * i11);
        const double d1 = a1 - r1;
        const double d2 = a2 - r2;
        beta[3 * k + 1] = d1 * i00 + d2 * i01;
        beta[3 * k + 2] = d1 * i01 + d2 * i11;
    }
    return true;
}

// Returns -9999.0 when the pooled covariance's determinant is exactly 0.0;
// nothing else is guarded (the logit model's caps keep the result finite).
template <class MX, class MY, class MS, class MC, class VC>
double llvalue_lda(MX& X, MY& Y, MS& groupStats, MC& groupCov, VC& groupCounts) {
    namespace ublas = boost::numeric::ublas;
    ublas::vector<double> beta(6);
    if (!lda_coefficients(groupStats, groupCov, groupCounts, beta.data().begin())) {
        return -9999.0;
    }

    const std::size_t rows = n > 0 ? static_cast<std::size_t>(n) : 0;
    const std::size_t xcols = X.size2();
    ublas::matrix<double> D(rows, 3);
    const double* x = X.data().begin();
    double* d = D.data().begin();
    for (std::size_t i = 0; i < rows; ++i) {
        d[3 * i] = 1.0;
        d[3 * i + 1] = x[i * xcols];
        d[3 * i + 2] = x[i * xcols + 1];
    }
    return loglikelihood(D, Y, beta, n);
}
