// Bit for bit: the fast interaction test and LDA likelihood of every level against the plain
// templates, each level's pair kernels against the generic level's, the small LU against uBLAS.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fast/interaction_fast.hpp"
#include "fast/pair_layout.hpp"
#include "fast/step_sums.hpp"
#include "linalg/linear_solve.hpp"
#include "linalg/math"
#include "linalg/small_lu.hpp"
#include "stats/interaction.hpp"
#include "tests/isa_levels.hpp"
#include "tests/support.hpp"

namespace {

namespace ublas = boost::numeric::ublas;
using testsupport::bits_of;
const double kInf = HUGE_VAL, kNaN = std::nan("");
const double kOdd[] = {0.0, -0.0, 1e-300, 1e217, 1e3, -1e3, 600.0, kInf, -kInf, kNaN};

// Factors, interchanges, singular column, determinant and solution.
void expect_lu_matches(const std::vector<double>& a, std::size_t size)
{
    SCOPED_TRACE(testing::Message() << "size " << size << " a[0] " << (size ? a[0] : 0));
    ublas::matrix<double> A(size, size);
    ublas::vector<double> rhs(size);
    double mine[kSmallOrder * kSmallOrder] = {}, x[kSmallOrder];
    for (std::size_t k = 0; k < size * size; ++k)
        A(k / size, k % size) = mine[k / size * kSmallOrder + k % size] = a[k];
    for (std::size_t r = 0; r < size; ++r)
        x[r] = rhs(r) = 1.0 + 0.5 * static_cast<double>(r);
    ublas::matrix<double> F(A);
    ublas::permutation_matrix<std::size_t> pm(size);
    const std::size_t singular = ublas::lu_factorize(F, pm);
    std::size_t pivots[kSmallOrder];
    ASSERT_EQ(small_lu_factor(mine, size, pivots), singular);
    EXPECT_EQ(bits_of(small_lu_determinant(mine, size, pivots)), bits_of(math::determinant(A)));
    if (linear_solve(A, rhs, rhs))  // exactly when no pivot is 0.0
        small_lu_solve(mine, size, pivots, x);
    for (std::size_t r = 0; r < size; ++r) {
        ASSERT_EQ(pivots[r], pm(r)) << "row " << r;
        EXPECT_TRUE(singular != 0 || bits_of(x[r]) == bits_of(rhs(r))) << "solution " << r;
        for (std::size_t c = 0; c < size; ++c)
            ASSERT_EQ(bits_of(mine[r * kSmallOrder + c]), bits_of(F(r, c))) << r << "," << c;
    }
}

TEST(SmallLu, MatchesLibraryOnHandPickedSingularAndTiedMatrices)
{
    // Interchanges, zero pivots after them, ties (the first largest wins), zero columns, NaN.
    const std::vector<std::vector<double>> cases = {
        {}, {3.0}, {0.0}, {0, 2, 3, 0}, {1, 2, 2, 4}, {-2, 1, 2, 5}, {0, 1, 2, 0, 3, 4, 0, 5, 6},
        {1, 2, 3, 2, 4, 6, 3, 6, 9}, {2, -2, 1, -2, 2, 1, 1, 1, 0}, {1e-300, 0, 0, 0, 1, 0, 0, 0, 1e300},
        {kNaN, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 1, 2, kNaN, 4, 5, 0, 7, 8}, {kInf, 1, 2, 3, 4, 5, 6, 7, 8},
        {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 4}, {4, 1, 0, 2, 1, 3, 1, 0, 0, 1, 2, 1, 2, 0, 1, 5}};
    for (const auto& a : cases)
        expect_lu_matches(a, static_cast<std::size_t>(std::lround(std::sqrt(a.size()))));
}

// Each level's kernels; a level this CPU lacks is skipped, never passed.
class Level : public IsaLevel {};
MORV_ISA_LEVELS(Level);

struct Data { std::vector<double> x1, x2; std::vector<unsigned char> cls; };

// Logit classes (fits of several steps), separable, collinear, constant, ties, -inf, NaN, huge, no class 1.
Data make_data(std::mt19937_64& rng, std::size_t m, int shape)
{
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double scale = shape == 0 ? 0.3 : std::pow(10.0, std::floor(unit(rng) * 5) - 2);
    Data d;
    for (std::size_t s = 0; s < m; ++s) {
        const double a = normal(rng), b = normal(rng), e0 = std::exp(0.3 + 1.2 * a - 0.8 * b + 0.9 * a * b),
                     e1 = shape == 7 ? 0.0 : std::exp(-0.2 - 0.6 * a + 0.9 * b - 0.7 * a * b);
        const double u = unit(rng) * (1 + e0 + e1), x1 = 2.0 + scale * a;
        const double shapes[8][2] = {{x1, 1.5 + scale * b}, {x1, b}, {x1, s % 7 ? 2 * x1 : x1 + 1}, {x1, 1.0},
                                     {std::floor(a * 1.5) * 0.5, std::floor(b * 1.5) * 0.5},
                                     {u < 0.05 ? -kInf : x1, u > 0.95 * (1 + e0 + e1) ? kNaN : b},
                                     {x1 * 1e150, b * (s % 2 ? 1e100 : 1e-150)}, {x1, b}};
        d.x1.push_back(shapes[shape][0]);
        d.x2.push_back(shapes[shape][1]);
        d.cls.push_back(shape == 1 ? (a < -0.4 ? 0 : a < 0.4 ? 1 : 2) : u < e0 ? 0 : u < e0 + e1 ? 1 : 2);
    }
    return d;
}

// Degenerate pairs, then random ones of every shape and size (partial last blocks included).
std::vector<Data> cases()
{
    std::vector<Data> all = {
        {{}, {}, {}}, {{2.0}, {3.0}, {1}}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 1, 2, 2, 1, 0}},
        {{-kInf, 1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, kNaN}, {0, 1, 2, 0, 1, 2}},
        // x1 x2 overflows: the full design's first predictors are NaN, the reduced one's 0.
        {{1e200, 2, 3, 4, 5, 6}, {1e200, 1, 4, 3, 6, 5}, {0, 0, 1, 1, 2, 2}},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {2, 1, 4, 3, 6, 5, 8, 7, kInf}, {0, 1, 2, 0, 1, 2, 0, 1, 2}}};
    std::mt19937_64 rng(2024);
    for (int trial = 0; trial < 1600; ++trial)
        all.push_back(make_data(rng, rng() % (trial % 3 ? 600 : 13), trial % 8));
    return all;
}

// A level's products (m, then t), both designs' step sums at exponentials of any size (the
// reduced design's read through the level's own layout, sum by sum), finiteness.
std::vector<double> pair_kernels(const Data& d, const Kernels& k)
{
    InteractionWorkspace ws(k);
    prepare_pair(d.x1.data(), d.x2.data(), d.cls.data(), d.cls.size(), ws);
    const PairColumns c = pair_columns(ws.store.get(), d.cls.size());
    for (std::size_t s = 0; s < 2 * c.padded; ++s)  // e0, then e1
        c.e0[s] = c.n % 7 == 6 ? kOdd[s % 10] : std::exp(3.0 * std::sin(0.7 * s + c.n));
    k.fast.design_products(c);
    std::vector<double> out(c.m, c.m + 10 * c.padded);
    out.resize(10 * c.padded + 40);
    k.fast.step_sums_full(c, &out[10 * c.padded]);
    double reduced[kMaxSumLanes];
    k.fast.step_sums_reduced(c, reduced);
    const SumLanes& packed = kSumLanesOf<ReducedDesignSums>;
    for (int w = 0; w < kWeights; ++w)
        for (int j = 0; j < kProducts; ++j)
            if (packed.lane[w][j] >= 0)
                out.push_back(reduced[k.fast.reduced_lanes->lane[w][j]]);
    out.push_back(ws.all_finite);
    return out;
}

// The interaction test, the LDA likelihood at any coefficients (huge, infinite, NaN), and the
// level's pair kernels.
TEST_P(Level, MatchesPlainTestsAndGenericLevel)
{
    InteractionWorkspace ws(kernels());  // shared: reuse across sizes must not leak state
    for (const Data& d : cases()) {
        const std::size_t m = d.cls.size();
        ublas::matrix<double> X(m, 2), D(m, 3, 1.0);
        ublas::matrix<unsigned> Y(m, 2, 0);
        for (std::size_t s = 0; s < m; ++s) {
            X(s, 0) = D(s, 1) = d.x1[s];
            X(s, 1) = D(s, 2) = d.x2[s];
            if (d.cls[s] < 2)
                Y(s, d.cls[s]) = 1;
        }
        double want[4], got[4];
        want[0] = interaction_test(X, Y, want[1], want[2], want[3]);
        got[0] = interaction_test_fast(d.x1.data(), d.x2.data(), d.cls.data(), m, ws, got[1], got[2], got[3]);
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(bits_of(got[k]), bits_of(want[k])) << "n " << m << ", p, llR, llF, stat: " << k;
        ublas::vector<double> beta(6);
        for (std::size_t k = 0; k < 6; ++k)
            beta(k) = m % 3 ? 3.0 * std::sin(static_cast<double>(m + 7 * k)) : kOdd[(m + 3 * k) % 10];
        const int rows = static_cast<int>(m);
        ASSERT_EQ(bits_of(lda_log_likelihood_fast(ws, &beta(0))), bits_of(loglikelihood(D, Y, beta, rows))) << m;
        const std::vector<double> a = pair_kernels(d, kernels()), b = pair_kernels(d, kernels_for(Isa::generic));
        // A NaN's sign may follow operand order; no NaN sum reaches a result.
        for (std::size_t k = 0; k < a.size(); ++k)
            ASSERT_TRUE(bits_of(a[k]) == bits_of(b[k]) || (std::isnan(a[k]) && std::isnan(b[k])))
                << "n " << m << ", pair kernels, entry " << k << " of " << a.size();
    }
}

// The level's LU of the fits' orders against small_lu: dense, tied, rank-deficient, zero and
// non-finite columns, so that pivots fall anywhere and zero pivots come at every step.
TEST_P(Level, LuKernelMatchesSmallLu)
{
    std::mt19937_64 rng(77);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 4000; ++trial) {
        const std::size_t size = trial % 2 ? 8 : 6, kind = trial / 2 % 6;
        double a[kSmallOrder * kSmallOrder] = {}, b[kSmallOrder * kSmallOrder];
        for (std::size_t r = 0; r < size; ++r)
            for (std::size_t c = 0; c < size; ++c) {
                double& v = a[r * kSmallOrder + c];
                v = kind == 1 ? std::round(normal(rng)) : normal(rng) * std::pow(10.0, 3 * normal(rng));
                if ((kind == 2 && r > size / 2) || (kind == 3 && c == trial % size))
                    v = kind == 2 ? a[(r - size / 2) * kSmallOrder + c] * 2 : 0.0;
                if (kind == 4 && rng() % 16 == 0)
                    v = kOdd[rng() % 10];
                if (kind == 5 && c < r)
                    v = 0.0;  // triangular: zero pivots once a diagonal entry is
            }
        if (kind == 5)
            a[(trial % size) * (kSmallOrder + 1)] = 0.0;
        std::copy(a, a + kSmallOrder * kSmallOrder, b);
        std::size_t want[kSmallOrder], got[kSmallOrder];
        const std::size_t singular = small_lu_factor(a, size, want);
        ASSERT_EQ(kernels().fast.lu_factor(b, size, got), singular) << "trial " << trial;
        for (std::size_t r = 0; r < size; ++r) {
            ASSERT_EQ(got[r], want[r]) << "trial " << trial << " row " << r;
            for (std::size_t c = 0; c < size; ++c)
                ASSERT_TRUE(bits_of(b[r * kSmallOrder + c]) == bits_of(a[r * kSmallOrder + c]) ||
                            (std::isnan(a[r * kSmallOrder + c]) && std::isnan(b[r * kSmallOrder + c])))
                    << "trial " << trial << " " << r << "," << c;  // a NaN's sign: operand order
        }
    }
}

}  // namespace
