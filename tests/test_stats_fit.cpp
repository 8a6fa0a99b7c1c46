// The Newton-Raphson fit and the interaction test.

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "linalg/linear_solve.hpp"
#include "stats/interaction.hpp"
#include "stats/logit.hpp"
#include "stats/newton_raphson.hpp"
#include "stats/score.hpp"

namespace {

namespace ublas = boost::numeric::ublas;
using Matrix = ublas::matrix<double>;
using Classes = ublas::matrix<unsigned>;
using Vector = ublas::vector<double>;

double norm2(const Vector& v) {
    double s = 0.0;
    for (double e : v.data()) {
        s += e * e;
    }
    return std::sqrt(s);
}

Vector gradient_at(Matrix& Z, Classes& Y, Vector& beta) {
    unsigned rows = static_cast<unsigned>(Z.size1());
    unsigned p = static_cast<unsigned>(Z.size2());
    Matrix Pi(rows, 2);
    Vector g(2 * p);
    get_pimat(Z, Y, Pi, beta, rows, p);
    get_gradient(Z, Y, Pi, g, p);
    return g;
}

// Test data drawn from the full model with (1, x1, x2, x1*x2) and the given
// coefficients for classes 0 and 1.
struct Drawn {
    Matrix X;
    Classes Y;
    Drawn(std::mt19937_64& rng, std::size_t rows, const std::vector<double>& coef) : X(rows, 2), Y(rows, 2) {
        std::normal_distribution<double> normal(0.0, 1.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (std::size_t i = 0; i < rows; ++i) {
            const double x1 = normal(rng);
            const double x2 = normal(rng);
            const double z[4] = {1.0, x1, x2, x1 * x2};
            double eta0 = 0.0, eta1 = 0.0;
            for (std::size_t j = 0; j < 4; ++j) {
                eta0 += z[j] * coef[j];
                eta1 += z[j] * coef[4 + j];
            }
            const double den = 1.0 + std::exp(eta0) + std::exp(eta1);
            const double u = unit(rng);
            const unsigned cls = u < std::exp(eta0) / den ? 0 : (u < (std::exp(eta0) + std::exp(eta1)) / den ? 1 : 2);
            X(i, 0) = x1;
            X(i, 1) = x2;
            Y(i, 0) = cls == 0;
            Y(i, 1) = cls == 1;
        }
    }
    Matrix design(std::size_t cols) const {
        Matrix Z(X.size1(), cols);
        for (std::size_t i = 0; i < X.size1(); ++i) {
            Z(i, 0) = 1.0;
            Z(i, 1) = X(i, 0);
            Z(i, 2) = X(i, 1);
            if (cols > 3) {
                Z(i, 3) = X(i, 0) * X(i, 1);
            }
        }
        return Z;
    }
};

Vector vec(const std::vector<double>& values) {
    Vector v(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        v(i) = values[i];
    }
    return v;
}

TEST(NewtonRaphson, DegenerateHessianKeepsStartValue) {
    std::mt19937_64 rng(4);
    Drawn d(rng, 50, {0.3, 0.8, -0.5, 0.0, -0.2, -0.4, 0.9, 0.0});
    const Vector start = vec({0.1, -0.2, 0.3, 0.4, -0.5, 0.6});

    Matrix none(0, 3);
    Classes noY(0, 2);
    Vector beta = start;
    unsigned zero = 0;
    newton_raphson(none, noY, beta, zero);
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(beta(k), start(k)) << "no rows, entry " << k;
    }

    Matrix Z = d.design(3);
    for (std::size_t i = 0; i < Z.size1(); ++i) {
        Z(i, 2) = 0.0;  // a design column that is zero in every row
    }
    beta = start;
    unsigned m = 50;
    newton_raphson(Z, d.Y, beta, m);
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(beta(k), start(k)) << "zero column, entry " << k;
    }
}

// With classes in equal shares and covariates symmetric about 0, beta = 0 is
// the maximum: the first step is tiny and is the only one taken.
TEST(NewtonRaphson, SmallFirstStepIsTheOnlyStep) {
    Matrix Z(6, 2);
    Classes Y(6, 2, 0u);
    const double x[6] = {-1.0, 1.0, -2.0, 2.0, -0.5, 0.6};
    for (std::size_t i = 0; i < 6; ++i) {
        Z(i, 0) = 1.0;
        Z(i, 1) = x[i];
        Y(i, 0) = i < 2;
        Y(i, 1) = i >= 2 && i < 4;
    }
    Vector beta(4, 0.0);
    unsigned m = 6;
    newton_raphson(Z, Y, beta, m);

    // One Newton step from zero, by hand.
    Vector zero(4, 0.0);
    unsigned p = 2;
    Matrix Pi(6, 2);
    Vector g(4);
    Matrix H(4, 4);
    get_pimat(Z, Y, Pi, zero, m, p);
    get_gradient(Z, Y, Pi, g, p);
    get_hessian(Z, Y, Pi, H, m, p);
    ASSERT_TRUE(linear_solve(H, g, g));
    double step = 0.0;
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(beta(k), 0.0 - g(k)) << "entry " << k;
        step += g(k) * g(k);
    }
    EXPECT_LE(step, 0.06 * 2);
}

TEST(NewtonRaphson, FitsWellConditionedData) {
    std::mt19937_64 rng(77);
    for (int trial = 0; trial < 10; ++trial) {
        Drawn d(rng, 400, {0.3, 0.8, -0.5, 0.0, -0.2, -0.4, 0.9, 0.0});
        double ll[2];
        for (std::size_t cols : {std::size_t{3}, std::size_t{4}}) {
            Matrix Z = d.design(cols);
            Vector beta(2 * cols, 0.0);
            const double before = norm2(gradient_at(Z, d.Y, beta));
            unsigned m = 400;
            newton_raphson(Z, d.Y, beta, m);
            EXPECT_LT(norm2(gradient_at(Z, d.Y, beta)), 0.05 * before) << "trial " << trial << " cols " << cols;
            ll[cols - 3] = loglikelihood(Z, d.Y, beta, m);
        }
        // The full model nests the reduced one.
        EXPECT_GE(ll[1], ll[0]) << "trial " << trial;
    }
}

TEST(NewtonRaphson, SeparableDataStopsQuietly) {
    // x1 > 0 exactly marks class 0: no finite maximum exists.
    std::mt19937_64 rng(9);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<unsigned> other(1, 2);
    Matrix Z(120, 3);
    Classes Y(120, 2, 0u);
    for (std::size_t i = 0; i < 120; ++i) {
        const double x1 = normal(rng);
        Z(i, 0) = 1.0;
        Z(i, 1) = x1;
        Z(i, 2) = normal(rng);
        const unsigned cls = x1 > 0 ? 0 : other(rng);
        Y(i, 0) = cls == 0;
        Y(i, 1) = cls == 1;
    }
    Vector beta(6, 0.0);
    unsigned m = 120;
    const double start = loglikelihood(Z, Y, beta, m);
    newton_raphson(Z, Y, beta, m);
    for (std::size_t k = 0; k < 6; ++k) {
        EXPECT_TRUE(std::isfinite(beta(k))) << "entry " << k;
    }
    EXPECT_GT(beta(1), 1.0);  // heading for the separating direction
    EXPECT_GT(loglikelihood(Z, Y, beta, m), start);
}

TEST(InteractionTest, PvalueOfStatistic) {
    struct Case {
        double stat;
        double expected;
        double tolerance;
    };
    const std::vector<Case> cases = {
        {2.0 * std::log(10.0), 0.1, 1e-15}, {2.0, std::exp(-1.0), 1e-15}, {40.0, std::exp(-20.0), 1e-22},
        {1500.0, 0.0, 0.0},                 {0.0, 1.0, 0.0},              {-0.5, 1.0, 0.0},
        {std::nan(""), 1.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(it_pvalue(c.stat), c.expected, c.tolerance) << "stat " << c.stat;
    }
}

TEST(InteractionTest, AllZeroExpressionGivesNoEvidence) {
    Matrix X(9, 2, 0.0);
    Classes Y(9, 2, 0u);
    for (std::size_t i = 0; i < 9; ++i) {
        Y(i, 0) = i % 3 == 0;
        Y(i, 1) = i % 3 == 1;
    }
    double llR = 0.0, llF = 0.0, stat = 5.0;
    EXPECT_EQ(interaction_test(X, Y, llR, llF, stat), 1.0);
    Matrix Z(9, 3, 0.0);
    for (std::size_t i = 0; i < 9; ++i) {
        Z(i, 0) = 1.0;
    }
    Vector zero(6, 0.0);
    unsigned m = 9;
    EXPECT_EQ(llR, loglikelihood(Z, Y, zero, m));
    EXPECT_NEAR(llR, 9 * std::log(1.0 / 3.0), 1e-12);
    EXPECT_EQ(llF, llR);
    EXPECT_EQ(stat, 0.0);
}

// The test equals its definition: fit (1, x1, x2) and (1, x1, x2, x1*x2)
// from zero, twice the log-likelihood gain, 2 df.
TEST(InteractionTest, MatchesFitsOfBothDesigns) {
    std::mt19937_64 rng(13);
    const std::vector<std::vector<double>> models = {
        {0.3, 0.8, -0.5, 0.0, -0.2, -0.4, 0.9, 0.0},   // no interaction
        {0.3, 0.8, -0.5, 1.2, -0.2, -0.4, 0.9, -1.0},  // strong interaction
    };
    for (std::size_t model = 0; model < models.size(); ++model) {
        Drawn d(rng, 300, models[model]);
        d.X(0, 0) = 2.0;
        d.X(0, 1) = 3.0;
        double llR = 0.0, llF = 0.0, stat = 0.0;
        const double p = interaction_test(d.X, d.Y, llR, llF, stat);

        Matrix Zr = d.design(3), Z = d.design(4);
        EXPECT_EQ(Z(0, 3), 6.0);
        Vector bR(6, 0.0), bF(8, 0.0);
        unsigned m = 300;
        newton_raphson(Zr, d.Y, bR, m);
        newton_raphson(Z, d.Y, bF, m);
        EXPECT_EQ(llR, loglikelihood(Zr, d.Y, bR, m)) << "model " << model;
        EXPECT_EQ(llF, loglikelihood(Z, d.Y, bF, m)) << "model " << model;
        EXPECT_EQ(stat, (llF - llR) + (llF - llR));
        EXPECT_GE(llF, llR) << "model " << model;
        EXPECT_EQ(p, it_pvalue(stat));
        if (model == 1) {
            EXPECT_LT(p, 1e-6);
        } else {
            EXPECT_GT(p, 1e-3);
        }
    }
}

}  // namespace
