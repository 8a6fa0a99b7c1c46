#pragma once

// The three-class multinomial logit model: class probabilities and the
// log-likelihood for a design X (n x p) and coefficients beta (2p: the class-0
// block, then the class-1 block, in design-column order). Class 2 is the
// baseline with linear predictor 0.

#include <cmath>
#include <cstddef>

#include <boost/numeric/ublas/matrix.hpp>

namespace logit_detail {

// Row counts arrive signed (the global n) or unsigned.
template <class Count>
std::size_t rows_of(const Count& n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Predictors are capped at 500 (NaN included) so the denominator stays finite.
inline double capped(double eta) {
    return eta < 500.0 ? eta : 500.0;
}

}  // namespace logit_detail

// Writes Pi(i,0) and Pi(i,1), the probabilities of classes 0 and 1, for rows
// 0..n-1. Y belongs to the signature but is not read.
template <class MX, class MY, class MP, class V, class Count, class P>
void get_pimat(MX& X, MY& /*Y*/, MP& Pi, V& beta, Count& n, P& p) {
    const std::size_t rows = logit_detail::rows_of(n);
    const std::size_t cols = p;
    const double* x = X.data().begin();
    const double* b0 = beta.data().begin();
    const double* b1 = b0 + cols;
    double* pi = Pi.data().begin();
    const std::size_t pistride = Pi.size2();
    for (std::size_t i = 0; i < rows; ++i) {
        const double* xi = x + i * cols;
        // Each predictor is summed from 0.0 in column order.
        double eta0 = 0.0;
        double eta1 = 0.0;
        for (std::size_t j = 0; j < cols; ++j) {
            eta0 += xi[j] * b0[j];
            eta1 += xi[j] * b1[j];
        }
        const double e0 = std::exp(logit_detail::capped(eta0));
        const double e1 = std::exp(logit_detail::capped(eta1));
        const double den = (e0 + 1.0) + e1;
        pi[i * pistride] = e0 / den;
        pi[i * pistride + 1] = e1 / den;
    }
}

// Sum over rows 0..n-1 of the log-probability of each sample's class. A
// probability that is zero, not a number or (class 2) not positive contributes
// ln(1e-15) instead, so the result is always finite.
template <class MX, class MY, class V, class Count>
double loglikelihood(MX& X, MY& Y, V& beta, Count& n) {
    const std::size_t rows = logit_detail::rows_of(n);
    unsigned p = static_cast<unsigned>(X.size2());
    boost::numeric::ublas::matrix<double> Pi(rows, 2);
    get_pimat(X, Y, Pi, beta, n, p);

    const double lmin = std::log(1e-15);
    const double* pi = Pi.data().begin();
    const auto* y = Y.data().begin();
    const std::size_t ycols = Y.size2();
    double ll = 0.0;
    for (std::size_t i = 0; i < rows; ++i) {
        const double p0 = pi[2 * i];
        const double p1 = pi[2 * i + 1];
        double term;
        if (y[i * ycols] != 0) {
            term = p0 > 0 ? std::log(p0) : lmin;
        } else if (y[i * ycols + 1] != 0) {
            term = p1 > 0 ? std::log(p1) : lmin;
        } else {
            const double s = p0 + p1;
            term = s < 1.0 ? std::log((1.0 - p0) - p1) : lmin;
        }
        ll += term;
    }
    return ll;
}
