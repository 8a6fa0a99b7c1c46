// The LDA likelihood, fed by the MC test's group statistics as in the scan.

#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/lda.hpp"
#include "stats/logit.hpp"
#include "stats/mean_cov.hpp"
#include "tests/pair_data.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

using testsupport::Sample;

struct Pair : testsupport::Pair {
    using testsupport::Pair::Pair;

    // The scan's order: the MC test fills the group statistics, then the LDA.
    double lda() {
        mc();
        return llvalue_lda(X, Y, stats, cov, counts);
    }

    // The logit log-likelihood of the design (1, x1, x2) at beta.
    double loglikelihood_at(const std::vector<double>& values) {
        ublas::matrix<double> D(X.size1(), 3);
        for (std::size_t i = 0; i < X.size1(); ++i) {
            D(i, 0) = 1.0;
            D(i, 1) = X(i, 0);
            D(i, 2) = X(i, 1);
        }
        ublas::vector<double> beta(6);
        for (std::size_t k = 0; k < 6; ++k) {
            beta(k) = values[k];
        }
        unsigned rows = static_cast<unsigned>(X.size1());
        return loglikelihood(D, Y, beta, rows);
    }
};

TEST(Lda, SixSampleExample) {
    Pair pair({{0, 1, 2}, {0, 2, 1}, {1, 3, 5}, {1, 4, 4}, {2, 0.5, 0}, {2, 1.5, 1}});
    const double ll = pair.lda();
    EXPECT_NEAR(ll, -1.3010551, 1e-7);
    const double at_beta = pair.loglikelihood_at({-4.96875, 1.875, 2.625, -46.59375, 8.625, 10.875});
    EXPECT_NEAR(ll, at_beta, 1e-12);
}

TEST(Lda, SingularPooledCovariance) {
    Pair pair({{0, 1, 2}, {0, 1, 1}, {1, 3, 5}, {1, 3, 4}, {2, 0.5, 0}, {2, 0.5, 1}});
    EXPECT_EQ(pair.lda(), -9999.0);
}

TEST(Lda, EqualMeansGiveZeroCoefficientsForThatClass) {
    // Classes 0 and 2 share the mean (1, 1); class 1 sits elsewhere.
    Pair pair({{0, 0, 1}, {0, 2, 1}, {0, 1, 0}, {0, 1, 2}, {1, 3, 5}, {1, 4, 4}, {1, 3.5, 6},
               {2, 0.5, 1}, {2, 1.5, 1}, {2, 1, 0.2}, {2, 1, 1.8}});
    const double ll = pair.lda();
    // Class 1 against class 2 from the pooled covariance, class 0's block zero.
    const double w00 = ((4 * 0.5 + 3 * (pair.cov(1, 0))) + 4 * 0.125) / 8.0;
    const double w11 = ((4 * 0.5 + 3 * (pair.cov(1, 1))) + 4 * 0.32) / 8.0;
    const double w01 = (3 * pair.cov(1, 2)) / 8.0;
    const double det = w00 * w11 - w01 * w01;
    const double i00 = w11 / det, i11 = w00 / det, i01 = -w01 / det;
    const double m1 = 3.5, m2 = 5.0;
    const double d1 = m1 - 1.0, d2 = m2 - 1.0;
    const double b3 = -0.5 * (((m1 * m1 - 1.0) * i00 + (m1 * m2 - 1.0) * (2 * i01)) + (m2 * m2 - 1.0) * i11);
    EXPECT_NEAR(ll, pair.loglikelihood_at({0, 0, 0, b3, d1 * i00 + d2 * i01, d1 * i01 + d2 * i11}), 1e-9);
}

TEST(Lda, EmptyClassFallsBackToCappedPredictors) {
    // Class 1 is empty: every predictor is NaN and so treated as 500.
    Pair pair({{0, 1, 2}, {0, 2, 1}, {0, 3, 5}, {2, 4, 4}, {2, 0.5, 0}});
    const double half = std::log(0.5);
    const double floor = std::log(1e-15);
    EXPECT_EQ(pair.lda(), (((half + half) + half) + floor) + floor);
}

}  // namespace
