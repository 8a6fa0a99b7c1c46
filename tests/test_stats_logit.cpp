// The multinomial logit model: probabilities, log-likelihood, score, Hessian.

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/matrix_proxy.hpp>
#include <boost/numeric/ublas/vector_proxy.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "stats/logit.hpp"
#include "stats/score.hpp"

namespace {

namespace ublas = boost::numeric::ublas;
using Matrix = ublas::matrix<double>;
using Classes = ublas::matrix<unsigned>;
using Vector = ublas::vector<double>;

const double lmin = std::log(1e-15);

Classes classes_of(const std::vector<unsigned>& cls) {
    Classes Y(cls.size(), 2);
    for (std::size_t i = 0; i < cls.size(); ++i) {
        Y(i, 0) = cls[i] == 0;
        Y(i, 1) = cls[i] == 1;
    }
    return Y;
}

Vector vec(const std::vector<double>& values) {
    Vector v(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        v(i) = values[i];
    }
    return v;
}

// A random design with an intercept column, random classes and small
// coefficients, so no guard of the model is active.
struct Random {
    Matrix X;
    Classes Y;
    Vector beta;
    Random(std::mt19937_64& rng, std::size_t rows, std::size_t cols) : X(rows, cols), Y(rows, 2), beta(2 * cols) {
        std::normal_distribution<double> normal(0.0, 1.0);
        std::uniform_int_distribution<unsigned> cls(0, 2);
        for (std::size_t i = 0; i < rows; ++i) {
            X(i, 0) = 1.0;
            for (std::size_t j = 1; j < cols; ++j) {
                X(i, j) = normal(rng);
            }
            const unsigned c = cls(rng);
            Y(i, 0) = c == 0;
            Y(i, 1) = c == 1;
        }
        for (double& b : beta.data()) {
            b = 0.5 * normal(rng);
        }
    }
};

TEST(Pimat, EmptyDesignWritesNothing) {
    Matrix X(0, 2);
    Classes Y(0, 2);
    Vector beta(4, 1.0);
    Matrix Pi(1, 2, -5.0);
    unsigned rows = 0;
    unsigned p = 2;
    get_pimat(X, Y, Pi, beta, rows, p);
    EXPECT_EQ(Pi(0, 0), -5.0);
    EXPECT_EQ(Pi(0, 1), -5.0);
    EXPECT_EQ(loglikelihood(X, Y, beta, rows), 0.0);
}

TEST(Pimat, ZeroCoefficientsGiveThirds) {
    Matrix X(3, 2);
    X(0, 0) = 1; X(0, 1) = 2;
    X(1, 0) = -4; X(1, 1) = 0.5;
    X(2, 0) = 7; X(2, 1) = -3;
    Classes Y = classes_of({0, 1, 2});
    Vector beta(4, 0.0);
    Matrix Pi(3, 2);
    unsigned rows = 3;
    unsigned p = 2;
    get_pimat(X, Y, Pi, beta, rows, p);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Pi(i, 0), 1.0 / 3.0);
        EXPECT_EQ(Pi(i, 1), 1.0 / 3.0);
    }
    const double third = std::log(1.0 / 3.0);
    const double expected = (third + third) + std::log((1.0 - 1.0 / 3.0) - 1.0 / 3.0);
    EXPECT_EQ(loglikelihood(X, Y, beta, rows), expected);
    EXPECT_NEAR(expected, 3 * -1.0986123, 1e-6);
}

// One-column design x = 1, so the predictors are the coefficients themselves.
TEST(Pimat, CapsAndMinimumTerm) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double big = std::exp(500.0);
    struct Case {
        const char* name;
        double x;
        double b0;
        double b1;
        unsigned cls;
        double pi0;
        double pi1;
        double term;  // the row's log-likelihood term
    };
    const std::vector<Case> cases = {
        {"cap from 1000", 1.0, 1000.0, 0.0, 0, big / ((big + 1.0) + 1.0), 1.0 / ((big + 1.0) + 1.0),
         std::log(big / ((big + 1.0) + 1.0))},
        {"nan predictor", nan, 1.0, 1.0, 0, 0.5, 0.5, std::log(0.5)},
        {"no lower cap", 1.0, -1000.0, 0.0, 0, 0.0, 0.5, lmin},
        {"class 2 sum reaches 1", 1.0, 600.0, 600.0, 2, 0.5, 0.5, lmin},
        {"class 1 zero probability", 1.0, 0.0, -1000.0, 1, 0.5, 0.0, lmin},
    };
    for (const auto& c : cases) {
        Matrix X(1, 1, c.x);
        Classes Y = classes_of({c.cls});
        Vector beta = vec({c.b0, c.b1});
        Matrix Pi(1, 2);
        unsigned rows = 1;
        unsigned p = 1;
        get_pimat(X, Y, Pi, beta, rows, p);
        EXPECT_EQ(Pi(0, 0), c.pi0) << c.name;
        EXPECT_EQ(Pi(0, 1), c.pi1) << c.name;
        EXPECT_EQ(loglikelihood(X, Y, beta, rows), c.term) << c.name;
    }
}

TEST(Loglikelihood, OnlyNonZeroIndicatorsCount) {
    Matrix X(3, 1, 1.0);
    Vector beta = vec({0.7, -0.2});
    Classes Y(3, 2, 0u);
    Y(0, 0) = 2;  // behaves as class 0
    Y(1, 0) = 1;
    Y(1, 1) = 1;  // both set: class 0 wins
    Y(2, 1) = 5;  // behaves as class 1
    Classes plain = classes_of({0, 0, 1});
    unsigned rows = 3;
    EXPECT_EQ(loglikelihood(X, Y, beta, rows), loglikelihood(X, plain, beta, rows));
}

TEST(Loglikelihood, SignedRowCountGivesSameValue) {
    std::mt19937_64 rng(8);
    Random data(rng, 40, 3);
    unsigned urows = 40;
    int srows = 40;
    EXPECT_EQ(loglikelihood(data.X, data.Y, data.beta, urows),
              loglikelihood(data.X, data.Y, data.beta, srows));
}

Vector gradient_at(Random& data, Vector& beta) {
    unsigned rows = static_cast<unsigned>(data.X.size1());
    unsigned p = static_cast<unsigned>(data.X.size2());
    Matrix Pi(rows, 2);
    Vector g(2 * p);
    get_pimat(data.X, data.Y, Pi, beta, rows, p);
    get_gradient(data.X, data.Y, Pi, g, p);
    return g;
}

TEST(Score, GradientMatchesFiniteDifferenceOfLoglikelihood) {
    std::mt19937_64 rng(21);
    for (int trial = 0; trial < 5; ++trial) {
        Random data(rng, 60, 2 + trial % 3);
        unsigned rows = 60;
        const Vector g = gradient_at(data, data.beta);
        const double h = 1e-5;
        for (std::size_t k = 0; k < data.beta.size(); ++k) {
            Vector up = data.beta;
            Vector down = data.beta;
            up(k) += h;
            down(k) -= h;
            const double fd =
                (loglikelihood(data.X, data.Y, up, rows) - loglikelihood(data.X, data.Y, down, rows)) / (2 * h);
            EXPECT_NEAR(g(k), fd, 1e-5 * (1.0 + std::fabs(fd))) << "trial " << trial << " entry " << k;
        }
    }
}

TEST(Score, HessianMatchesFiniteDifferenceOfGradient) {
    std::mt19937_64 rng(34);
    for (int trial = 0; trial < 5; ++trial) {
        Random data(rng, 60, 2 + trial % 3);
        unsigned rows = 60;
        unsigned p = static_cast<unsigned>(data.X.size2());
        const std::size_t q = 2 * p;
        Matrix Pi(rows, 2);
        Matrix H(q, q);
        get_pimat(data.X, data.Y, Pi, data.beta, rows, p);
        get_hessian(data.X, data.Y, Pi, H, rows, p);
        const double h = 1e-5;
        for (std::size_t k = 0; k < q; ++k) {
            Vector up = data.beta;
            Vector down = data.beta;
            up(k) += h;
            down(k) -= h;
            const Vector column = (gradient_at(data, up) - gradient_at(data, down)) / (2 * h);
            for (std::size_t j = 0; j < q; ++j) {
                EXPECT_NEAR(H(j, k), column(j), 1e-5 * (1.0 + std::fabs(column(j))))
                    << "trial " << trial << " entry " << j << "," << k;
                EXPECT_EQ(H(j, k), H(k, j)) << "not exactly symmetric";
            }
        }
    }
}

TEST(Score, HessianAtZeroCoefficients) {
    // One sample x = (1, 2), Pi = 1/3 for both classes.
    Matrix X(1, 2);
    X(0, 0) = 1.0;
    X(0, 1) = 2.0;
    Classes Y = classes_of({2});
    Matrix Pi(1, 2, 1.0 / 3.0);
    Matrix H(4, 4, 99.0);
    unsigned rows = 1;
    unsigned p = 2;
    get_hessian(X, Y, Pi, H, rows, p);
    const double third = 1.0 / 3.0;
    const double a = (third - 1.0) * third;
    const double b = third * third;
    const double m[2][2] = {{1, 2}, {2, 4}};
    for (std::size_t j = 0; j < 2; ++j) {
        for (std::size_t l = 0; l < 2; ++l) {
            EXPECT_EQ(H(j, l), a * m[j][l]);
            EXPECT_EQ(H(j, l + 2), b * m[j][l]);
            EXPECT_EQ(H(j + 2, l), b * m[j][l]);
            EXPECT_EQ(H(j + 2, l + 2), a * m[j][l]);
        }
    }
    EXPECT_NEAR(a, -2.0 / 9.0, 1e-16);
    EXPECT_NEAR(b, 1.0 / 9.0, 1e-16);

    Vector g(4, 99.0);
    get_gradient(X, Y, Pi, g, p);
    EXPECT_EQ(g(0), -third);
    EXPECT_EQ(g(1), 2.0 * -third);
    EXPECT_EQ(g(2), -third);
    EXPECT_EQ(g(3), 2.0 * -third);
}

TEST(Score, NoRowsOrZeroColumnLeaveZeros) {
    std::mt19937_64 rng(2);
    Random data(rng, 30, 3);
    for (std::size_t i = 0; i < 30; ++i) {
        data.X(i, 2) = 0.0;
    }
    unsigned p = 3;
    Matrix Pi(30, 2);
    Matrix H(6, 6, 99.0);
    unsigned none = 0;
    get_hessian(data.X, data.Y, Pi, H, none, p);
    for (double v : H.data()) {
        EXPECT_EQ(v, 0.0);
    }
    unsigned rows = 30;
    get_pimat(data.X, data.Y, Pi, data.beta, rows, p);
    get_hessian(data.X, data.Y, Pi, H, rows, p);
    for (std::size_t k = 0; k < 6; ++k) {
        for (std::size_t zero : {std::size_t{2}, std::size_t{5}}) {
            EXPECT_EQ(H(zero, k), 0.0);
            EXPECT_EQ(H(k, zero), 0.0);
        }
    }
}

// The same quantities evaluated the plain way, through uBLAS expressions:
// the fast loops must give identical bits.
TEST(Score, BitForBitWithPlainUblasEvaluation) {
    std::mt19937_64 rng(55);
    for (int trial = 0; trial < 6; ++trial) {
        Random data(rng, 80, 3 + trial % 2);
        unsigned rows = 80;
        unsigned p = static_cast<unsigned>(data.X.size2());
        const std::size_t q = 2 * p;
        Matrix Pi(rows, 2);
        Vector g(q);
        Matrix H(q, q);
        get_pimat(data.X, data.Y, Pi, data.beta, rows, p);
        get_gradient(data.X, data.Y, Pi, g, p);
        get_hessian(data.X, data.Y, Pi, H, rows, p);

        const Vector b0 = ublas::subrange(data.beta, 0, p);
        const Vector b1 = ublas::subrange(data.beta, p, q);
        Matrix plainPi(rows, 2);
        for (std::size_t i = 0; i < rows; ++i) {
            double e0 = ublas::inner_prod(ublas::row(data.X, i), b0);
            double e1 = ublas::inner_prod(ublas::row(data.X, i), b1);
            e0 = e0 < 500 ? e0 : 500;
            e1 = e1 < 500 ? e1 : 500;
            const double den = (std::exp(e0) + 1.0) + std::exp(e1);
            plainPi(i, 0) = std::exp(e0) / den;
            plainPi(i, 1) = std::exp(e1) / den;
        }
        Vector plainG(q);
        for (std::size_t k = 0; k < 2; ++k) {
            for (std::size_t j = 0; j < p; ++j) {
                double t = 0.0;
                for (std::size_t i = 0; i < rows; ++i) {
                    t += data.X(i, j) * (static_cast<double>(data.Y(i, k)) - plainPi(i, k));
                }
                plainG(k * p + j) = t;
            }
        }
        Matrix plainH = ublas::zero_matrix<double>(q, q);
        for (std::size_t i = 0; i < rows; ++i) {
            const Matrix M = ublas::outer_prod(ublas::row(data.X, i), ublas::row(data.X, i));
            const double a = (plainPi(i, 0) - 1.0) * plainPi(i, 0);
            const double b = plainPi(i, 0) * plainPi(i, 1);
            const double c = (plainPi(i, 1) - 1.0) * plainPi(i, 1);
            ublas::project(plainH, ublas::range(0, p), ublas::range(0, p)) += a * M;
            ublas::project(plainH, ublas::range(0, p), ublas::range(p, q)) += b * M;
            ublas::project(plainH, ublas::range(p, q), ublas::range(p, q)) += c * M;
        }
        ublas::project(plainH, ublas::range(p, q), ublas::range(0, p)) =
            ublas::trans(ublas::project(plainH, ublas::range(0, p), ublas::range(p, q)));

        for (std::size_t i = 0; i < rows; ++i) {
            ASSERT_EQ(Pi(i, 0), plainPi(i, 0));
            ASSERT_EQ(Pi(i, 1), plainPi(i, 1));
        }
        for (std::size_t j = 0; j < q; ++j) {
            ASSERT_EQ(g(j), plainG(j)) << "trial " << trial;
            for (std::size_t l = 0; l < q; ++l) {
                ASSERT_EQ(H(j, l), plainH(j, l)) << "trial " << trial << " entry " << j << "," << l;
            }
        }
    }
}

}  // namespace
