// Group statistics and the MC test.

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/group_stats.hpp"
#include "stats/mean_cov.hpp"
#include "tests/pair_data.hpp"

namespace {

namespace ublas = boost::numeric::ublas;

using testsupport::Pair;
using testsupport::Sample;

double row_det(const ublas::matrix<double>& cov, std::size_t r) {
    return (cov(r, 0) * cov(r, 1)) - cov(r, 2) * cov(r, 2);
}

const std::vector<Sample> six = {{0, 1, 2}, {0, 2, 1}, {1, 3, 5}, {1, 4, 4}, {2, 0.5, 0}, {2, 1.5, 1}};

const std::vector<Sample> nine = {{0, 1, 2}, {0, 2, 1}, {0, 3, 4}, {1, 3, 5},  {1, 4, 4},
                                  {1, 5, 6}, {2, 0.5, 0}, {2, 1.5, 1}, {2, 1, 3}};

TEST(GroupStats, SixSampleExampleFillsEveryEntry) {
    Pair pair(six);
    unsigned N = 6;
    get_covmat_plusone_new(pair.X, pair.Y, pair.moments, pair.cov, pair.stats, N, pair.g1, pair.g2,
                           pair.counts);
    const double stats[3][4] = {{3, 3, 5, 5}, {7, 9, 25, 41}, {2, 1, 2.5, 1}};
    const double cov[3][3] = {{0.25, 0.25, -0.25}, {0.25, 0.25, -0.25}, {0.25, 0.25, 0.25}};
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(pair.counts(k), 2.0) << "class " << k;
        for (std::size_t j = 0; j < 4; ++j) {
            EXPECT_EQ(pair.stats(k, j), stats[k][j]) << "groupStats " << k << "," << j;
        }
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_EQ(pair.cov(k, j), cov[k][j]) << "groupCov " << k << "," << j;
        }
    }
    // Whole sample: means (2, 13/6), mean squares (32.5/6, 47/6), mean cross 36.5/6.
    EXPECT_DOUBLE_EQ(pair.cov(3, 0), 32.5 / 6 - 4.0);
    EXPECT_DOUBLE_EQ(pair.cov(3, 1), 113.0 / 36.0);
    EXPECT_DOUBLE_EQ(pair.cov(3, 2), 1.75);
}

TEST(GroupStats, SingleSampleClassHasZeroCovarianceAndEmptyClassNaN) {
    Pair pair({{0, 1.7, 2.3}, {1, 1, 2}, {1, 2, 5}, {1, 4, 4}});
    unsigned N = 4;
    get_covmat_plusone_new(pair.X, pair.Y, pair.moments, pair.cov, pair.stats, N, pair.g1, pair.g2,
                           pair.counts);
    EXPECT_EQ(pair.counts(0), 1.0);
    EXPECT_EQ(pair.counts(1), 3.0);
    EXPECT_EQ(pair.counts(2), 0.0);
    for (std::size_t j = 0; j < 3; ++j) {
        EXPECT_EQ(pair.cov(0, j), 0.0);
        EXPECT_TRUE(std::isnan(pair.cov(2, j)));
    }
}

TEST(GroupStats, AddsToWhatIsAlreadyThere) {
    Pair pair(six);
    pair.stats(1, 0) = 10.0;
    pair.counts(0) = 1.0;
    unsigned N = 6;
    get_covmat_plusone_new(pair.X, pair.Y, pair.moments, pair.cov, pair.stats, N, pair.g1, pair.g2,
                           pair.counts);
    EXPECT_EQ(pair.stats(1, 0), 17.0);
    EXPECT_EQ(pair.counts(0), 3.0);
    EXPECT_EQ(pair.counts(2), 1.0);  // N - 3 - 2
}

TEST(McTest, NineSampleExample) {
    Pair pair(nine);
    const double p = pair.mc();
    EXPECT_NEAR(row_det(pair.cov, 0), 16.0 / 27.0, 1e-12);
    EXPECT_NEAR(row_det(pair.cov, 1), 1.0 / 3.0, 1e-12);
    EXPECT_NEAR(row_det(pair.cov, 2), 25.0 / 108.0, 1e-12);
    EXPECT_NEAR(row_det(pair.cov, 3), 2.153292, 1e-6);
    EXPECT_NEAR(pair.statistic, 16.1583, 1e-4);
    EXPECT_NEAR(p, 0.09519, 1e-5);
    EXPECT_EQ(p, mc_pvalue(pair.statistic));
}

TEST(McTest, TwoSamplesPerClassIsSingular) {
    Pair pair(six);
    EXPECT_EQ(pair.mc(), 2.0);
    EXPECT_EQ(pair.statistic, std::numeric_limits<double>::infinity());
    EXPECT_NEAR(row_det(pair.cov, 3), 1.384, 1e-3);
}

TEST(McTest, DegenerateClassesGiveSentinels) {
    struct Case {
        const char* name;
        std::vector<Sample> samples;
        double expected;
    };
    const std::vector<Case> cases = {
        {"all in one class", {{1, 1, 2}, {1, 2, 1}, {1, 3, 5}, {1, 4, 4}}, 1.0},
        {"one empty class", {{0, 1, 2}, {0, 2, 1}, {0, 3, 5}, {1, 4, 4}, {1, 5, 7}, {1, 2, 9}}, 1.0},
        {"one sample in a class",
         {{0, 1, 2}, {1, 2, 1}, {1, 3, 5}, {1, 4, 4}, {2, 5, 7}, {2, 2, 9}, {2, 3, 3}},
         2.0},
        {"one sample and one empty class", {{0, 1, 2}, {1, 2, 1}, {1, 3, 5}, {1, 4, 4}}, 1.0},
        {"log of zero expression",
         {{0, -std::numeric_limits<double>::infinity(), 2}, {0, 2, 1}, {0, 3, 4}, {1, 3, 5}, {1, 4, 4},
          {1, 5, 6}, {2, 0.5, 0}, {2, 1.5, 1}, {2, 1, 3}},
         1.0},
    };
    for (const auto& c : cases) {
        Pair pair(c.samples);
        EXPECT_EQ(pair.mc(), c.expected) << c.name;
    }
}

// Two points always lie on a line: a two-sample class is singular whatever
// sign rounding gives its determinant, and the statistic is +inf.
TEST(McTest, TwoSampleClassIsSingularWhateverTheRounding) {
    struct Case {
        const char* name;
        Sample a;
        Sample b;
        int sign;  // sign of the determinant as rounding computes it
    };
    const std::vector<Case> cases = {
        {"rounds positive", {0, 1.858, 3.246}, {0, 2.374, 1.918}, 1},
        {"rounds negative", {0, 1.401, 1.409}, {0, 2.353, 1.063}, -1},
        {"exactly zero", {0, 3.057, 2.188}, {0, 1.318, 3.967}, 0},
    };
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(2.0, 0.5);
    for (const auto& c : cases) {
        std::vector<Sample> samples = {c.a, c.b};
        for (unsigned cls = 1; cls < 3; ++cls) {
            for (int s = 0; s < 6; ++s) {
                samples.push_back({cls, noise(rng), noise(rng)});
            }
        }
        Pair pair(samples);
        EXPECT_EQ(pair.mc(), 2.0) << c.name;
        EXPECT_EQ(pair.statistic, std::numeric_limits<double>::infinity()) << c.name;
        // groupCov keeps the computed values: the LDA likelihood reads them.
        const double det = row_det(pair.cov, 0);
        EXPECT_EQ((det > 0) - (det < 0), c.sign) << c.name << ": det " << det;
    }
}

// Every entry as the plain per-sample accumulation gives it, bit for bit.
TEST(GroupStats, BitForBitWithPlainAccumulation) {
    std::mt19937_64 rng(99);
    std::normal_distribution<double> normal(2.0, 0.7);
    std::uniform_int_distribution<unsigned> cls(0, 2);
    std::vector<Sample> samples(257);
    for (Sample& s : samples) {
        s = {cls(rng), normal(rng), normal(rng)};
    }
    Pair pair(samples);
    const double p = pair.mc();

    ublas::matrix<double> stats(3, 4, 0.0);
    ublas::matrix<double> cov(4, 3, 0.0);
    ublas::vector<double> counts(3, 0.0);
    for (std::size_t s = 0; s < samples.size(); ++s) {
        const double x1 = pair.X(s, 0);
        const double x2 = pair.X(s, 1);
        const std::size_t k = pair.Y(s, 0) ? 0 : (pair.Y(s, 1) ? 1 : 2);
        if (k < 2) {
            counts(k) += 1.0;
        }
        stats(k, 0) += x1;
        stats(k, 1) += x2;
        stats(k, 2) += x1 * x1;
        stats(k, 3) += x2 * x2;
        cov(k, 2) += x1 * x2;
        cov(3, 2) += x1 * x2;
    }
    const double N = static_cast<double>(samples.size());
    counts(2) = N - counts(0) - counts(1);
    for (std::size_t k = 0; k < 3; ++k) {
        const double c = counts(k);
        cov(k, 0) = stats(k, 2) / c - (stats(k, 0) / c) * (stats(k, 0) / c);
        cov(k, 1) = stats(k, 3) / c - (stats(k, 1) / c) * (stats(k, 1) / c);
        cov(k, 2) = cov(k, 2) / c;
        cov(k, 2) = cov(k, 2) - ((stats(k, 0) / c) * stats(k, 1)) / c;
    }
    const ublas::matrix<double>& M = pair.moments;
    cov(3, 0) = M(0, 1) - M(0, 0) * M(0, 0);
    cov(3, 1) = M(1, 1) - M(1, 0) * M(1, 0);
    cov(3, 2) = cov(3, 2) / N - M(0, 0) * M(1, 0);

    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(pair.counts(k), counts(k));
        for (std::size_t j = 0; j < 4; ++j) {
            EXPECT_EQ(pair.stats(k, j), stats(k, j)) << k << "," << j;
        }
    }
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_EQ(pair.cov(r, j), cov(r, j)) << r << "," << j;
        }
    }
    double T = std::log(row_det(cov, 3)) * N;
    for (std::size_t k = 0; k < 3; ++k) {
        T = T - std::log(row_det(cov, k)) * counts(k);
    }
    EXPECT_EQ(pair.statistic, T);
    EXPECT_EQ(p, mc_pvalue(T));
}

TEST(McPvalue, TailAndSentinels) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double T;
        double expected;
        double tolerance;
    };
    const std::vector<Case> cases = {
        {10.0, 0.44049, 1e-5},     {18.307, 0.0500, 1e-5}, {100.0, 5.45e-17, 0.01e-17},
        {1600.0, 0.0, 0.0},        {9999.9, 0.0, 0.0},     {9999.91, 2.0, 0.0},
        {inf, 2.0, 0.0},           {0.0, 1.0, 0.0},        {-3.0, 1.0, 0.0},
        {std::nan(""), 1.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(mc_pvalue(c.T), c.expected, c.tolerance) << "T = " << c.T;
    }
    EXPECT_GT(mc_pvalue(1400.0), 0.0);
}

// The statistic from its definition: N ln|S| - sum_k c_k ln|S_k| with
// maximum-likelihood covariances taken around the means (two passes).
double textbook_statistic(const std::vector<Sample>& samples) {
    auto log_det = [](const std::vector<const Sample*>& members) {
        const double c = static_cast<double>(members.size());
        double m1 = 0.0, m2 = 0.0;
        for (const Sample* s : members) {
            m1 += s->x1;
            m2 += s->x2;
        }
        m1 /= c;
        m2 /= c;
        double v11 = 0.0, v22 = 0.0, v12 = 0.0;
        for (const Sample* s : members) {
            v11 += (s->x1 - m1) * (s->x1 - m1);
            v22 += (s->x2 - m2) * (s->x2 - m2);
            v12 += (s->x1 - m1) * (s->x2 - m2);
        }
        v11 /= c;
        v22 /= c;
        v12 /= c;
        return c * std::log(v11 * v22 - v12 * v12);
    };
    std::vector<const Sample*> all;
    std::vector<const Sample*> classes[3];
    for (const Sample& s : samples) {
        all.push_back(&s);
        classes[s.cls].push_back(&s);
    }
    return log_det(all) - log_det(classes[0]) - log_det(classes[1]) - log_det(classes[2]);
}

TEST(McTest, AgreesWithTextbookStatisticOnRandomData) {
    std::mt19937_64 rng(20240601);
    std::uniform_int_distribution<int> size(30, 300);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        // Per-class means and mixing so classes differ in mean and covariance.
        double shift[3][2];
        double mix[3];
        for (int k = 0; k < 3; ++k) {
            shift[k][0] = 2.0 + 0.3 * normal(rng);
            shift[k][1] = 1.5 + 0.3 * normal(rng);
            mix[k] = unit(rng) - 0.5;
        }
        std::vector<Sample> samples(size(rng));
        for (Sample& s : samples) {
            const double r = unit(rng);
            s.cls = r < 0.3 ? 0 : (r < 0.7 ? 1 : 2);
            const double a = normal(rng);
            const double b = normal(rng);
            s.x1 = shift[s.cls][0] + 0.4 * a;
            s.x2 = shift[s.cls][1] + 0.4 * (mix[s.cls] * a + b);
        }
        Pair pair(samples);
        const double p = pair.mc();
        const double expected = textbook_statistic(samples);
        EXPECT_NEAR(pair.statistic, expected, 1e-9 * std::fabs(expected)) << "trial " << trial;
        EXPECT_EQ(p, mc_pvalue(pair.statistic));
    }
}

}  // namespace
