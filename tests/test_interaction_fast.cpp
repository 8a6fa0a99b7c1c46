// The fast interaction test and LDA likelihood against the plain templates,
// bit for bit, and the fixed-size LU against the matrix library's.

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/lu.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "linalg/linear_solve.hpp"
#include "linalg/math"
#include "fast/interaction_fast.hpp"
#include "stats/interaction.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"
#include "tests/support.hpp"

namespace {

namespace ublas = boost::numeric::ublas;
namespace lu = interaction_fast_detail;

using testsupport::bits_of;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- LU, determinant and solve ------------------------------------------

// Checks factors, interchanges, singular indicator, determinant and (when
// regular) the solution of a x = rhs against the library, bit for bit.
void expect_lu_matches(const std::vector<double>& a, std::size_t size, const std::vector<double>& rhs)
{
    ublas::matrix<double> A(size, size);
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c)
            A(r, c) = a[r * size + c];
    const double expectedDet = math::determinant(A);

    ublas::matrix<double> F(A);
    ublas::permutation_matrix<std::size_t> pm(size);
    const std::size_t expectedSingular = ublas::lu_factorize(F, pm);

    constexpr std::size_t stride = lu::kMaxOrder;
    double mine[stride * stride] = {};
    std::size_t pivots[lu::kMaxOrder];
    for (std::size_t r = 0; r < size; ++r)
        for (std::size_t c = 0; c < size; ++c)
            mine[r * stride + c] = a[r * size + c];
    const std::size_t singular = lu::lu_factor(mine, size, pivots);
    ASSERT_EQ(singular, expectedSingular);
    for (std::size_t r = 0; r < size; ++r) {
        EXPECT_EQ(pivots[r], pm(r)) << "row " << r;
        for (std::size_t c = 0; c < size; ++c)
            EXPECT_EQ(bits_of(mine[r * stride + c]), bits_of(F(r, c))) << "entry " << r << "," << c;
    }
    EXPECT_EQ(bits_of(lu::lu_determinant(mine, size, pivots)), bits_of(expectedDet));

    ublas::matrix<double> S(A);
    ublas::vector<double> x(size);
    for (std::size_t k = 0; k < size; ++k)
        x(k) = rhs[k];
    const bool solved = linear_solve(S, x, x);
    ASSERT_EQ(solved, singular == 0);
    if (!solved)
        return;
    double y[lu::kMaxOrder];
    std::copy(rhs.begin(), rhs.end(), y);
    lu::lu_solve(mine, size, pivots, y);
    for (std::size_t k = 0; k < size; ++k)
        EXPECT_EQ(bits_of(y[k]), bits_of(x(k))) << "solution " << k;
}

TEST(FixedLu, MatchesLibraryOnHandPickedMatrices)
{
    struct Case {
        std::size_t size;
        std::vector<double> a;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {1, {3.0}},
        {1, {0.0}},
        {2, {0, 2, 3, 0}},
        {2, {1, 2, 2, 4}},              // zero second pivot after an interchange
        {2, {-2, 1, 2, 5}},             // tie: the first row of largest magnitude wins
        {3, {0, 1, 2, 0, 3, 4, 0, 5, 6}},  // zero first column, later columns still eliminated
        {3, {1e-300, 0, 0, 0, 1, 0, 0, 0, 1}},
        {3, {kNaN, 1, 2, 3, 4, 5, 6, 7, 8}},
        {3, {0, 1, 2, kNaN, 4, 5, 0, 7, 8}},
        {3, {kInf, 1, 2, 3, 4, 5, 6, 7, 8}},
        {4, {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " first " << (c.a.empty() ? 0 : c.a[0]));
        std::vector<double> rhs(c.size);
        for (std::size_t k = 0; k < c.size; ++k)
            rhs[k] = 1.0 + 0.5 * static_cast<double>(k);
        expect_lu_matches(c.a, c.size, rhs);
    }
}

TEST(FixedLu, MatchesLibraryOnRandomSingularAndTiedMatrices)
{
    std::mt19937_64 rng(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<int> small(-2, 2);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t size = 1 + static_cast<std::size_t>(trial % 8);
        std::vector<double> a(size * size);
        const int kind = trial / 8 % 4;
        for (double& v : a)
            v = kind == 1 ? static_cast<double>(small(rng)) : normal(rng) * std::pow(10.0, small(rng) * 3);
        if (kind == 2 && size > 1) {  // a repeated row and a scaled column
            const std::size_t r = static_cast<std::size_t>(trial) % (size - 1);
            for (std::size_t c = 0; c < size; ++c)
                a[(r + 1) * size + c] = a[r * size + c];
            for (std::size_t q = 0; q < size; ++q)
                a[q * size + size - 1] = 3.0 * a[q * size];
        }
        if (kind == 3) {  // symmetric, like every Hessian
            for (std::size_t r = 0; r < size; ++r)
                for (std::size_t c = 0; c < r; ++c)
                    a[r * size + c] = a[c * size + r];
        }
        std::vector<double> rhs(size);
        for (double& v : rhs)
            v = normal(rng);
        SCOPED_TRACE(trial);
        expect_lu_matches(a, size, rhs);
        if (HasFailure())
            return;
    }
}

// ---- Step sums -------------------------------------------------------------

// The vector kernels and the portable one must leave the same bits in every
// lane that is read, whatever the sample count (partial last blocks) and
// however extreme the exponentials.
TEST(StepSums, VectorisedAndPortablePathsAgree)
{
    using lu::StepPath;
    std::mt19937_64 rng(5);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double odd[] = {0.0, 1e-300, 1e217, 1.0, kInf, kNaN};
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = trial % 3 == 0 ? static_cast<std::size_t>(trial % 41) : 500;
        const std::size_t padded = (n + 7) / 8 * 8;
        std::vector<double> e0(padded), e1(padded), y0(padded), y1(padded), m(8 * n), t(2 * n);
        for (std::size_t s = 0; s < padded; ++s) {
            e0[s] = trial % 7 == 6 ? odd[(s + 1) % 6] : std::exp(3.0 * normal(rng));
            e1[s] = std::exp(3.0 * normal(rng));
            const std::size_t k = s % 3;
            y0[s] = k == 0;
            y1[s] = k == 1;
        }
        for (std::size_t s = 0; s < n; ++s) {
            const double a = normal(rng), b = normal(rng), c = a * b;
            const double row[10] = {1.0, a, b, c, a * a, a * b, b * b, a * c, b * c, c * c};
            std::copy(row, row + 8, m.begin() + 8 * static_cast<std::ptrdiff_t>(s));
            t[2 * s] = row[8];
            t[2 * s + 1] = row[9];
        }
        for (StepPath path : {StepPath::avx2, StepPath::avx512}) {
        if (!lu::step_sums_available(path))
            continue;
        for (bool full : {false, true}) {
            double fast[40], portable[40];
            lu::step_sums(path, e0.data(), e1.data(), y0.data(), y1.data(), m.data(), t.data(), n, full, fast);
            lu::step_sums(StepPath::portable, e0.data(), e1.data(), y0.data(), y1.data(), m.data(), t.data(), n, full, portable);
            for (int lane = 0; lane < 40; ++lane) {
                // The reduced design reads the products 1, x1, x2, x1x1,
                // x1x2, x2x2 of each block and the first three score lanes.
                const int k = lane % 8;
                const bool reduced = k != 3 && k != 7 && (lane < 24 || (lane >= 32 && k % 4 != 3));
                const bool read = full ? (lane < 30 || lane >= 32) : reduced;
                // A NaN's sign may differ (operand order); it never reaches a
                // result: NaN sums stop the fit.
                if (read && !(std::isnan(fast[lane]) && std::isnan(portable[lane]))) {
                    ASSERT_EQ(bits_of(fast[lane]), bits_of(portable[lane]))
                        << "trial " << trial << " n " << n << " full " << full << " lane " << lane
                        << " path " << static_cast<int>(path);
                }
            }
        }
        }
    }
}

// The transposed products equal the one-by-one ones, partial blocks and
// non-finite values included.
TEST(StepSums, TransposedProductsMatch)
{
    if (!lu::products_best())
        GTEST_SKIP() << "no AVX-512 on this CPU";
    std::mt19937_64 rng(9);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (std::size_t n : {0, 1, 7, 8, 9, 16, 23, 500}) {
        const std::size_t padded = (n + 7) / 8 * 8;
        AlignedDoubles x1 = aligned_doubles(padded), x2 = aligned_doubles(padded), z3 = aligned_doubles(padded);
        for (std::size_t s = 0; s < n; ++s) {
            x1[s] = s % 11 == 3 ? kNaN : 10.0 * normal(rng);
            x2[s] = s % 13 == 5 ? -kInf : normal(rng);
            z3[s] = x1[s] * x2[s];
        }
        std::vector<double> m1(8 * n + 1), t1(2 * n + 1), m2(8 * n + 1), t2(2 * n + 1);
        AlignedDoubles m = aligned_doubles(8 * padded), t = aligned_doubles(2 * padded);
        lu::products(true, x1.get(), x2.get(), z3.get(), n, m.get(), t.get());
        lu::products(false, x1.get(), x2.get(), z3.get(), n, m2.data(), t2.data());
        for (std::size_t k = 0; k < 8 * n; ++k)
            ASSERT_EQ(bits_of(m[k]), bits_of(m2[k])) << "n " << n << " m " << k;
        for (std::size_t k = 0; k < 2 * n; ++k)
            ASSERT_EQ(bits_of(t[k]), bits_of(t2[k])) << "n " << n << " t " << k;
    }
}

// ---- Interaction test ----------------------------------------------------

struct Data {
    std::vector<double> x1, x2;
    std::vector<unsigned char> cls;
};

void expect_it_matches(const Data& d, InteractionWorkspace& ws)
{
    const std::size_t m = d.cls.size();
    ublas::matrix<double> X(m, 2);
    ublas::matrix<unsigned> Y(m, 2);
    for (std::size_t s = 0; s < m; ++s) {
        X(s, 0) = d.x1[s];
        X(s, 1) = d.x2[s];
        Y(s, 0) = d.cls[s] == 0;
        Y(s, 1) = d.cls[s] == 1;
    }
    double llR = 0.0, llF = 0.0, stat = 0.0;
    const double pv = interaction_test(X, Y, llR, llF, stat);
    double fR = 1.5, fF = 1.5, fStat = 1.5;
    const double fast = interaction_test_fast(d.x1.data(), d.x2.data(), d.cls.data(), m, ws, fR, fF, fStat);
    EXPECT_EQ(bits_of(fR), bits_of(llR)) << fR << " vs " << llR;
    EXPECT_EQ(bits_of(fF), bits_of(llF)) << fF << " vs " << llF;
    EXPECT_EQ(bits_of(fStat), bits_of(stat)) << fStat << " vs " << stat;
    EXPECT_EQ(bits_of(fast), bits_of(pv)) << fast << " vs " << pv;
}

enum class Shape { Logit, Noise, Separable, Collinear, Constant, Discrete, NonFinite, Huge };
constexpr int kShapes = 8;

// Data sets of every shape the scan can meet: realistic ones whose fits take
// several steps, separable ones that run to 11 steps or a vanishing
// determinant, collinear and constant ones with singular Hessians, ties,
// -inf and NaN from zero or negative expression, and extreme scales.
Data make_data(std::mt19937_64& rng, std::size_t m, Shape shape)
{
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Data d;
    d.x1.resize(m);
    d.x2.resize(m);
    d.cls.resize(m);
    // Class weights, sometimes leaving a class empty or nearly so.
    double w[3] = {unit(rng), unit(rng), unit(rng)};
    const int drop = static_cast<int>(unit(rng) * 6);
    if (drop < 3)
        w[drop] = unit(rng) < 0.5 ? 0.0 : 0.01;
    const double scale = std::pow(10.0, std::floor(unit(rng) * 5) - 2);
    const double centre = unit(rng) < 0.5 ? 0.0 : 2.0;
    for (std::size_t s = 0; s < m; ++s) {
        const double a = normal(rng), b = normal(rng);
        double u = unit(rng) * (w[0] + w[1] + w[2]);
        unsigned char k = u < w[0] ? 0 : (u < w[0] + w[1] ? 1 : 2);
        double x1 = centre + scale * a, x2 = centre + scale * b;
        switch (shape) {
        case Shape::Logit: {
            const double e0 = std::exp(0.3 + 1.2 * a - 0.8 * b + 0.9 * a * b);
            const double e1 = std::exp(-0.2 - 0.6 * a + 0.9 * b - 0.7 * a * b);
            u = unit(rng) * (1.0 + e0 + e1);
            k = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
            x1 = 2.0 + 0.3 * a;
            x2 = 1.5 + 0.3 * b;
            break;
        }
        case Shape::Noise:
            break;
        case Shape::Separable:
            k = a < -0.4 ? 0 : (a < 0.4 ? 1 : 2);
            break;
        case Shape::Collinear:
            x2 = (s % 2 == 0 || unit(rng) < 0.9) ? 2.0 * x1 : x1 + 1.0;
            break;
        case Shape::Constant:
            x2 = 1.0;
            break;
        case Shape::Discrete:
            x1 = std::floor(a * 1.5) * 0.5;
            x2 = std::floor(b * 1.5) * 0.5;
            break;
        case Shape::NonFinite:
            if (unit(rng) < 0.05)
                x1 = -kInf;  // log10 of a zero expression value
            if (unit(rng) < 0.05)
                x2 = kNaN;  // log10 of a negative one
            break;
        case Shape::Huge:
            x1 *= 1e150;
            x2 = unit(rng) < 0.5 ? x2 * 1e-150 : x2 * 1e100;
            break;
        }
        d.x1[s] = x1;
        d.x2[s] = x2;
        d.cls[s] = k;
    }
    return d;
}

TEST(InteractionFast, MatchesPlainTestOnRandomData)
{
    std::mt19937_64 rng(2024);
    std::uniform_int_distribution<std::size_t> wide(0, 600);
    std::uniform_int_distribution<std::size_t> narrow(0, 12);
    InteractionWorkspace ws;  // shared: reuse across sizes must not leak state
    for (int trial = 0; trial < 2400; ++trial) {
        const Shape shape = static_cast<Shape>(trial % kShapes);
        const std::size_t m = trial % 3 == 0 ? narrow(rng) : wide(rng);
        const Data d = make_data(rng, m, shape);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " shape " << trial % kShapes << " n " << m);
        expect_it_matches(d, ws);
        if (HasFailure())
            return;
    }
}

TEST(InteractionFast, MatchesPlainTestOnDegenerateData)
{
    InteractionWorkspace ws;
    const std::vector<Data> cases = {
        {{}, {}, {}},
        {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 1, 2, 0, 1, 2}},  // all zero
        {{1, 2, 3}, {2, 3, 4}, {0, 1, 2}},
        {{2.0}, {3.0}, {1}},
        {{1, 2, 3, 4, 5, 6}, {1, 1, 1, 1, 1, 1}, {0, 0, 1, 1, 2, 2}},
        {{-kInf, 1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, kNaN}, {0, 1, 2, 0, 1, 2}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1}, {0, 0, 0, 0, 2, 2, 2, 2}},  // no class 1
        {{1, 2, 3, 4, 5, 6, 7, 8}, {2, 1, 4, 3, 6, 5, 8, 7}, {0, 0, 1, 1, 1, 1, 2, 2}},
        // x1*x2 overflows: at the start the full design's predictor is NaN,
        // the reduced one's 0, so the fits cannot share their first step.
        {{1e200, 2, 3, 4, 5, 6}, {1e200, 1, 4, 3, 6, 5}, {0, 0, 1, 1, 2, 2}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, {2, 1, 4, 3, 6, 5, 8, kInf}, {0, 1, 2, 0, 1, 2, 0, 1}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(c);
        expect_it_matches(cases[c], ws);
    }
}

// The LDA's log-likelihood is the reduced design's at the discriminant
// coefficients, which may be anything the group statistics give: huge,
// infinite or NaN (an empty class).
TEST(InteractionFast, LdaLikelihoodMatchesPlainModel)
{
    std::mt19937_64 rng(77);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_int_distribution<std::size_t> size(0, 300);
    const double odd[] = {0.0, -0.0, 1e3, -1e3, 600.0, kInf, -kInf, kNaN};
    InteractionWorkspace ws;
    for (int trial = 0; trial < 400; ++trial) {
        const Data d = make_data(rng, size(rng), static_cast<Shape>(trial % kShapes));
        const std::size_t m = d.cls.size();
        ublas::matrix<double> D(m, 3);
        ublas::matrix<unsigned> Y(m, 2);
        for (std::size_t s = 0; s < m; ++s) {
            D(s, 0) = 1.0;
            D(s, 1) = d.x1[s];
            D(s, 2) = d.x2[s];
            Y(s, 0) = d.cls[s] == 0;
            Y(s, 1) = d.cls[s] == 1;
        }
        ublas::vector<double> beta(6);
        for (std::size_t k = 0; k < 6; ++k)
            beta(k) = trial % 5 == 4 ? odd[(static_cast<std::size_t>(trial) + 3 * k) % 8] : 3.0 * normal(rng);
        const int rows = static_cast<int>(m);
        const double want = loglikelihood(D, Y, beta, rows);
        prepare_pair(d.x1.data(), d.x2.data(), d.cls.data(), m, ws);
        const double got = lda_log_likelihood_fast(ws, beta.data().begin());
        ASSERT_EQ(bits_of(got), bits_of(want)) << "trial " << trial << ": " << got << " vs " << want;
    }
}

TEST(InteractionFast, AllZeroExpressionGivesNoStatistic)
{
    InteractionWorkspace ws;
    const std::vector<double> zero(9, 0.0);
    const std::vector<unsigned char> cls = {0, 1, 2, 2, 1, 0, 0, 1, 2};
    double llR = 0, llF = 0, stat = 1;
    const double pv = interaction_test_fast(zero.data(), zero.data(), cls.data(), 9, ws, llR, llF, stat);
    EXPECT_EQ(pv, 1.0);
    EXPECT_EQ(stat, 0.0);
    EXPECT_NEAR(llR, 9 * std::log(1.0 / 3.0), 1e-12);
    EXPECT_EQ(bits_of(llR), bits_of(llF));
}

}  // namespace
