#pragma once

// Newton-Raphson fit of the logit model: full Newton steps from the caller's
// beta until the step is small, the Hessian is (nearly) singular, or 11 steps.

#include <cmath>
#include <cstddef>

#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "linalg/linear_solve.hpp"
#include "linalg/math"
#include "stats/logit.hpp"
#include "stats/score.hpp"

// beta (2p entries) is the start value on entry and the last estimate on
// return; n must be X's row count. The caller cannot tell how the fit ended.
template <class MX, class MY, class V, class Count>
void newton_raphson(MX& X, MY& Y, V& beta, Count& n) {
    namespace ublas = boost::numeric::ublas;
    unsigned p = static_cast<unsigned>(X.size2());
    const std::size_t q = 2 * static_cast<std::size_t>(p);
    const double tolerance = 0.06 * static_cast<double>(p);

    // Work storage for the whole fit, overwritten by every iteration.
    ublas::vector<double> beta_new(q);
    ublas::vector<double> beta_old(q);
    for (std::size_t k = 0; k < q; ++k) {
        beta_new(k) = beta(k);
        beta_old(k) = beta(k);
    }
    ublas::matrix<double> Pi(static_cast<std::size_t>(n), 2);
    ublas::vector<double> g(q);
    ublas::matrix<double> H(q, q);

    int steps = 0;
    for (;;) {
        for (std::size_t k = 0; k < q; ++k) {
            beta_old(k) = beta_new(k);
        }
        get_pimat(X, Y, Pi, beta_old, n, p);
        get_gradient(X, Y, Pi, g, p);
        get_hessian(X, Y, Pi, H, n, p);

        // The Hessian is negative semi-definite, so its determinant (2p
        // non-positive eigenvalues) is never negative in exact arithmetic:
        // anything below the threshold means (nearly) singular.
        const double det = math::determinant(H);
        if (det < 1e-15 || std::isnan(det)) {
            break;
        }
        if (!linear_solve(H, g, g)) {
            break;
        }
        // g now holds H^-1 g; H is the Hessian of the log-likelihood, so
        // subtracting it is the ascent step.
        for (std::size_t k = 0; k < q; ++k) {
            beta_new(k) = beta_old(k) - g(k);
        }
        ++steps;

        double s = 0.0;
        for (std::size_t k = 0; k < q; ++k) {
            const double d = beta_new(k) - beta_old(k);
            s += d * d;
        }
        if (s <= tolerance || std::isnan(s)) {
            break;
        }
        if (steps == 11) {
            break;
        }
    }

    for (std::size_t k = 0; k < q; ++k) {
        beta(k) = beta_new(k);
    }
}
