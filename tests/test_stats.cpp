// The statistics that define the results, held to independent
// recomputations: the MC test, the logit model's derivatives, its fit and the
// interaction test (their worked examples run through the whole program in
// test_end_to_end). And the exact kernels beneath them, allowed only because
// they give the library's bits: the sweeps of proofs/ at a small size
// (morv-proofs runs them at full size) and the spellings printf chooses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "exact/fixed_format.hpp"
#include "proofs/tails_format.hpp"
#include "stats/interaction.hpp"
#include "tests/support.hpp"
#include "tests/pair_data.hpp"

namespace {

namespace ublas = boost::numeric::ublas;
using testsupport::Pair;
using testsupport::Sample;
using Matrix = ublas::matrix<double>;
using Vector = ublas::vector<double>;

TEST(McTest, PvalueAndSentinels)
{
    // Two points lie on a line, whatever sign rounding gives their determinant.
    Pair pair({{0, 1.858, 3.246}, {0, 2.374, 1.918}, {1, 3, 5}, {1, 4, 4}, {1, 5, 6}, {2, 0.5, 0}, {2, 1.5, 1}, {2, 1, 3}});
    EXPECT_EQ(pair.mc(), 2.0);
    EXPECT_EQ(pair.statistic, HUGE_VAL);
    const double pvalues[][3] = {{10.0, 0.44049, 1e-5}, {18.307, 0.05, 1e-5}, {100.0, 5.45e-17, 1e-19},
                                 {1600.0, 0, 0},       {9999.9, 0, 0},       {9999.91, 2, 0},
                                 {HUGE_VAL, 2, 0},         {0.0, 1, 0},          {-3.0, 1, 0},
                                 {std::nan(""), 1, 0}};
    for (const auto& c : pvalues)
        EXPECT_NEAR(mc_pvalue(c[0]), c[1], c[2]) << "T = " << c[0];
}

// N ln|S| - sum_k c_k ln|S_k| from its definition, with the covariances
// taken around the means in a second pass.
double textbook_statistic(const std::vector<Sample>& samples)
{
    const auto term = [&](int cls) {
        double c = 0, m1 = 0, m2 = 0, v11 = 0, v22 = 0, v12 = 0;
        for (const Sample& s : samples)
            if (cls < 0 || s.cls == static_cast<unsigned>(cls))
                c += 1, m1 += s.x1, m2 += s.x2;
        m1 /= c, m2 /= c;
        for (const Sample& s : samples)
            if (cls < 0 || s.cls == static_cast<unsigned>(cls))
                v11 += (s.x1 - m1) * (s.x1 - m1), v22 += (s.x2 - m2) * (s.x2 - m2), v12 += (s.x1 - m1) * (s.x2 - m2);
        return c * std::log((v11 / c) * (v22 / c) - (v12 / c) * (v12 / c));
    };
    return term(-1) - term(0) - term(1) - term(2);
}

TEST(McTest, AgreesWithTextbookStatistic)
{
    std::mt19937_64 rng(20240601);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        double shift[3][3];  // classes differ in means and covariance
        for (auto& s : shift)
            s[0] = 2 + 0.3 * normal(rng), s[1] = 1.5 + 0.3 * normal(rng), s[2] = normal(rng);
        std::vector<Sample> samples(30 + rng() % 270);
        for (Sample& s : samples) {
            s.cls = static_cast<unsigned>(rng() % 3);
            const double a = normal(rng), b = normal(rng);
            s.x1 = shift[s.cls][0] + 0.4 * a;
            s.x2 = shift[s.cls][1] + 0.4 * (shift[s.cls][2] * a + b);
        }
        Pair pair(samples);
        const double p = pair.mc(), expected = textbook_statistic(samples);
        EXPECT_NEAR(pair.statistic, expected, 1e-9 * std::fabs(expected)) << "trial " << trial;
        EXPECT_EQ(p, mc_pvalue(pair.statistic));
    }
}

// A design (1, normal draws...) with random classes and coefficients.
struct Random {
    Matrix X;
    ublas::matrix<unsigned> Y;
    Vector beta;
    unsigned rows, p;
    Random(std::mt19937_64& rng, unsigned r, unsigned cols) : X(r, cols), Y(r, 2), beta(2 * cols), rows(r), p(cols)
    {
        std::normal_distribution<double> normal(0.0, 1.0);
        for (std::size_t i = 0; i < rows; ++i) {
            for (std::size_t j = 0; j < cols; ++j)
                X(i, j) = j == 0 ? 1.0 : normal(rng);
            const auto cls = rng() % 3;
            Y(i, 0) = cls == 0, Y(i, 1) = cls == 1;
        }
        for (double& b : beta)
            b = 0.5 * normal(rng);
    }
    Vector gradient(Vector b)
    {
        Matrix Pi(rows, 2);
        Vector g(2 * p);
        get_pimat(X, Y, Pi, b, rows, p);
        get_gradient(X, Y, Pi, g, p);
        return g;
    }
    double ll(Vector b) { return loglikelihood(X, Y, b, rows); }
};

TEST(Logit, ScoreAndHessianMatchFiniteDifferences)
{
    std::mt19937_64 rng(21);
    for (unsigned trial = 0; trial < 6; ++trial) {
        Random d(rng, 60, 2 + trial % 3);
        Matrix Pi(d.rows, 2), H(2 * d.p, 2 * d.p);
        get_pimat(d.X, d.Y, Pi, d.beta, d.rows, d.p);
        get_hessian(d.X, d.Y, Pi, H, d.rows, d.p);
        const Vector g = d.gradient(d.beta);
        for (std::size_t k = 0; k < 2 * d.p; ++k) {
            Vector up = d.beta, down = d.beta;
            up(k) += 1e-5, down(k) -= 1e-5;
            const double fd = (d.ll(up) - d.ll(down)) / 2e-5;
            EXPECT_NEAR(g(k), fd, 1e-5 * (1 + std::fabs(fd))) << "trial " << trial << " entry " << k;
            const Vector column = (d.gradient(up) - d.gradient(down)) / 2e-5;
            for (std::size_t j = 0; j < 2 * d.p; ++j) {
                EXPECT_NEAR(H(j, k), column(j), 1e-5 * (1 + std::fabs(column(j)))) << j << "," << k;
                EXPECT_EQ(H(j, k), H(k, j));
            }
        }
    }
}

// Classes drawn from the full model: without an interaction the test finds
// none, with a strong one it does; the fits ascend from zero.
TEST(InteractionTest, FindsAnInteractionOnlyWhereThereIsOne)
{
    std::mt19937_64 rng(13);
    for (double interaction : {0.0, 1.5}) {
        Random d(rng, 300, 3);
        for (std::size_t i = 0; i < d.rows; ++i) {
            const double x1 = d.X(i, 1), x2 = d.X(i, 2);
            const double e0 = std::exp(0.3 + 0.8 * x1 - 0.5 * x2 + interaction * x1 * x2);
            const double e1 = std::exp(-0.2 - 0.4 * x1 + 0.9 * x2 - interaction * x1 * x2);
            const double u = std::uniform_real_distribution<double>(0, 1 + e0 + e1)(rng);
            d.Y(i, 0) = u < e0, d.Y(i, 1) = u >= e0 && u < e0 + e1;
        }
        Matrix X = ublas::subrange(d.X, 0, d.rows, 1, 3);
        double llR = 0, llF = 0, stat = 0;
        const double p = interaction_test(X, d.Y, llR, llF, stat);
        EXPECT_GT(llR, d.ll(Vector(6, 0.0)));
        EXPECT_GE(llF, llR);
        EXPECT_EQ(stat, (llF - llR) + (llF - llR));
        EXPECT_NEAR(p, std::exp(-stat / 2), 1e-15);
        EXPECT_TRUE(interaction > 0 ? p < 1e-6 : p > 1e-3) << p;
        Vector beta(6, 0.0);
        newton_raphson(d.X, d.Y, beta, d.rows);
        EXPECT_LT(ublas::norm_2(d.gradient(beta)), 0.05 * ublas::norm_2(d.gradient(Vector(6, 0.0))));
    }
    for (double stat : {0.0, -0.5, std::nan("")})
        EXPECT_EQ(it_pvalue(stat), 1.0);
    // A design column zero in every row: the Hessian is singular, the start stays.
    Random d(rng, 50, 3);
    ublas::column(d.X, 2) = Vector(50, 0.0);
    const Vector start = d.beta;
    newton_raphson(d.X, d.Y, d.beta, d.rows);
    EXPECT_TRUE(std::equal(start.begin(), start.end(), d.beta.begin()));
}

void expect_exact(const SweepResult& r, std::uint64_t atLeast)
{
    EXPECT_EQ(r.mismatches, 0u) << "first: " << r.first;
    EXPECT_GE(r.checked, atLeast) << "the sweep compared too few inputs";
}

const std::uint64_t kScale = testsupport::exact_samples_scale();

TEST(ExactSweeps, ChiSquaredTails) { expect_exact(prove_chi_squared_tails(150000 * kScale, 10), 140000); }
TEST(ExactSweeps, FixedFormat) { expect_exact(prove_fixed_format(300000 * kScale, 6), 290000); }
TEST(ExactSweeps, QuickPvalueText) { expect_exact(prove_quick_pvalue_text(1000000 * kScale, 7), 150000); }

TEST(FormatFixed6, SpellsAsPrintfDoes)
{
    const double nan = std::nan("");
    const std::pair<double, const char*> cases[] = {
        {0.0, "0.000000"}, {-0.0, "-0.000000"}, {-1e-7, "-0.000000"}, {4.9e-324, "0.000000"},
        {0.0078125, "0.007812"},  // exact tie: the even digit stays
        {0.0234375, "0.023438"},  // exact tie: the odd digit rounds up
        {-0.9999995, "-1.000000"}, {-7.0, "-7.000000"}, {HUGE_VAL, "inf"}, {-HUGE_VAL, "-inf"},
        {nan, "nan"}, {-nan, "-nan"}, {0x1p64, "18446744073709551616.000000"},
        {std::nextafter(0x1p64, 0.0), "18446744073709549568.000000"},
    };
    for (const auto& [v, text] : cases) {
        char fast[fixed6_max_chars], libc[64];
        std::snprintf(libc, sizeof libc, "%f", v);
        EXPECT_EQ(std::string(fast, format_fixed6(fast, v)), text) << std::hexfloat << v;
        EXPECT_EQ(std::string(libc), text) << std::hexfloat << v;
    }
}

}  // namespace
