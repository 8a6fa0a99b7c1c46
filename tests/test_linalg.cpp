// LU-based linear solve and determinant.

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/exception.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "linalg/linear_solve.hpp"
#include "linalg/math"

namespace {

namespace ublas = boost::numeric::ublas;
using Matrix = ublas::matrix<double>;
using Vector = ublas::vector<double>;

Matrix make(std::size_t rows, std::size_t cols, const std::vector<double>& values) {
    Matrix m(rows, cols);
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < cols; ++j) {
            m(i, j) = values[i * cols + j];
        }
    }
    return m;
}

Vector make(const std::vector<double>& values) {
    Vector v(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        v(i) = values[i];
    }
    return v;
}

bool same(const Matrix& a, const Matrix& b) {
    if (a.size1() != b.size1() || a.size2() != b.size2()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size1(); ++i) {
        for (std::size_t j = 0; j < a.size2(); ++j) {
            if (a(i, j) != b(i, j)) {
                return false;
            }
        }
    }
    return true;
}

struct DetCase {
    const char* name;
    std::size_t size;
    std::vector<double> values;
    double expected;
    bool negative_zero;  // expected is 0.0 and its sign must be negative
};

TEST(Determinant, SmallMatrices) {
    const std::vector<DetCase> cases = {
        {"empty", 0, {}, 1.0, false},
        {"one by one", 1, {-2.5}, -2.5, false},
        {"interchange", 2, {0, 2, 3, 0}, -6.0, false},
        {"swap", 2, {0, 1, 1, 0}, -1.0, false},
        {"exact zero pivot", 2, {1, 2, 2, 4}, 0.0, true},
        {"no interchange", 2, {4, 1, 2, 3}, 10.0, false},
    };
    for (const auto& c : cases) {
        const Matrix m = make(c.size, c.size, c.values);
        const Matrix before = m;
        const double det = math::determinant(m);
        EXPECT_EQ(det, c.expected) << c.name;
        if (c.expected == 0.0) {
            EXPECT_EQ(std::signbit(det), c.negative_zero) << c.name;
        }
        EXPECT_TRUE(same(m, before)) << c.name << ": argument changed";
    }
}

TEST(Determinant, ZeroFirstColumnIsZero) {
    const Matrix m = make(3, 3, {0, 1, 2, 0, 3, 4, 0, 5, 7});
    EXPECT_EQ(std::fabs(math::determinant(m)), 0.0);
}

TEST(Determinant, MatchesCofactorExpansionOnRandom3x3) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    for (int trial = 0; trial < 50; ++trial) {
        Matrix m(3, 3);
        for (double& v : m.data()) {
            v = u(rng);
        }
        const double cof = m(0, 0) * (m(1, 1) * m(2, 2) - m(1, 2) * m(2, 1)) -
                           m(0, 1) * (m(1, 0) * m(2, 2) - m(1, 2) * m(2, 0)) +
                           m(0, 2) * (m(1, 0) * m(2, 1) - m(1, 1) * m(2, 0));
        EXPECT_NEAR(math::determinant(m), cof, 1e-12);
    }
}

TEST(Determinant, NonSquareReportsAndThrows) {
    const Matrix m(2, 3, 1.0);
    testing::internal::CaptureStderr();
    std::string what;
    try {
        math::determinant(m);
    } catch (const ublas::external_logic& e) {
        what = e.what();
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(what, "external logic");
    EXPECT_EQ(err.rfind("Check failed in file ", 0), 0u) << err;
    EXPECT_NE(err.find("math at line 24:\nm.size1() == m.size2()\n"), std::string::npos) << err;
}

TEST(LinearSolve, SolvesAndReportsSingular) {
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<double> a;
        std::vector<double> b;
        bool ok;
        std::vector<double> x;        // expected solution when ok
        std::vector<double> factors;  // expected A afterwards, when given
    };
    const std::vector<Case> cases = {
        {"one by one", 1, {4.0}, {2.0}, true, {0.5}, {4.0}},
        {"one by one zero", 1, {0.0}, {2.0}, false, {}, {0.0}},
        {"interchange", 2, {0, 2, 3, 0}, {4, 9}, true, {3, 2}, {3, 0, 0, 2}},
        {"exact zero pivot", 2, {1, 2, 2, 4}, {1, 1}, false, {}, {2, 4, 0.5, 0}},
        // Later columns are still eliminated after the zero pivot.
        {"zero first column", 3, {0, 1, 2, 0, 3, 4, 0, 5, 7}, {1, 1, 1}, false, {}, {}},
        {"tiny pivot is not singular", 2, {1e-300, 0, 0, 1}, {1, 1}, true, {1e300, 1}, {}},
    };
    for (const auto& c : cases) {
        Matrix a = make(c.size, c.size, c.a);
        const Vector b = make(c.b);
        Vector x(c.size, -7.0);
        Vector bb = b;
        EXPECT_EQ(linear_solve(a, bb, x), c.ok) << c.name;
        if (c.ok) {
            for (std::size_t i = 0; i < c.size; ++i) {
                EXPECT_DOUBLE_EQ(x(i), c.x[i]) << c.name << " entry " << i;
            }
        } else {
            for (std::size_t i = 0; i < c.size; ++i) {
                EXPECT_EQ(x(i), -7.0) << c.name << ": x touched";
            }
        }
        if (!c.factors.empty()) {
            EXPECT_TRUE(same(a, make(c.size, c.size, c.factors))) << c.name << ": factors";
        }
    }
}

TEST(LinearSolve, ZeroFirstColumnStillEliminatesLaterColumns) {
    Matrix a = make(3, 3, {0, 1, 2, 0, 3, 4, 0, 5, 7});
    Vector b = make({1, 1, 1});
    EXPECT_FALSE(linear_solve(a, b, b));
    // Step 1 pivots on 5 (rows 1 and 2 interchanged), then eliminates below it.
    const double l = 3.0 * (1.0 / 5.0);
    EXPECT_EQ(a(1, 1), 5.0);
    EXPECT_EQ(a(1, 2), 7.0);
    EXPECT_EQ(a(2, 1), l);
    EXPECT_EQ(a(2, 2), 4.0 - l * 7.0);
}

TEST(LinearSolve, EmptySystemSucceeds) {
    Matrix a(0, 0);
    Vector b(0);
    EXPECT_TRUE(linear_solve(a, b, b));
    EXPECT_EQ(b.size(), 0u);
}

TEST(LinearSolve, NonSquareLeavesEverythingAlone) {
    Matrix a = make(2, 3, {1, 2, 3, 4, 5, 6});
    const Matrix before = a;
    Vector b = make({1, 2});
    Vector x = make({9, 9});
    EXPECT_FALSE(linear_solve(a, b, x));
    EXPECT_TRUE(same(a, before));
    EXPECT_EQ(x(0), 9.0);
    EXPECT_EQ(x(1), 9.0);
}

TEST(LinearSolve, SameVectorForRightHandSideAndSolution) {
    Matrix a = make(2, 2, {4, 1, 2, 3});
    Vector v = make({1, 2});
    ASSERT_TRUE(linear_solve(a, v, v));
    EXPECT_NEAR(v(0), 0.1, 1e-15);
    EXPECT_NEAR(v(1), 0.6, 1e-15);
}

TEST(LinearSolve, ResidualSmallOnRandomSystems) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 20; ++trial) {
        const std::size_t size = 8;
        Matrix a(size, size);
        for (double& v : a.data()) {
            v = u(rng);
        }
        for (std::size_t i = 0; i < size; ++i) {
            a(i, i) += 4.0;  // diagonally dominant: well conditioned
        }
        const Matrix original = a;
        Vector v(size);
        for (double& e : v.data()) {
            e = u(rng);
        }
        const Vector b = v;
        ASSERT_TRUE(linear_solve(a, v, v));
        const Vector r = ublas::prod(original, v) - b;
        EXPECT_LT(ublas::norm_inf(r), 1e-13);
    }
}

}  // namespace
