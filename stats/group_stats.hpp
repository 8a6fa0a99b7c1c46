#pragma once

// Per genotype class: the sums of the two genes' values and squares, the class
// sizes, and the maximum-likelihood 2x2 covariance; plus a fourth covariance
// row for the whole sample.
//
// Layout shared with the MC test and the LDA likelihood:
//   groupStats (3x4), row k = class k: sum x1, sum x2, sum x1^2, sum x2^2
//   groupCov   (4x3), row k = class k, row 3 = all samples: var x1, var x2, cov
//   groupCounts (3): class sizes

#include <cstddef>

// The work objects must be zero on entry: the pass adds to them. N samples are
// visited; g1 and g2 pick the GeneMoments rows of X's two columns.
template <class MX, class MY, class MG, class MC, class MS, class Count, class G1, class G2, class VC>
void get_covmat_plusone_new(MX& X, MY& Y, MG& GeneMoments, MC& groupCov, MS& groupStats, Count& N,
                            G1& g1, G2& g2, VC& groupCounts) {
    // Accumulate in locals seeded from the work objects: the same additions in
    // the same order, without going through the matrices for every sample.
    double sums[3][4];
    double cross[3];
    for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t j = 0; j < 4; ++j) {
            sums[k][j] = groupStats(k, j);
        }
        cross[k] = groupCov(k, 2);
    }
    double cross_all = groupCov(3, 2);
    double counts[2] = {groupCounts(0), groupCounts(1)};

    const std::size_t samples = N;
    const double* x = X.data().begin();
    const auto* y = Y.data().begin();
    const std::size_t xcols = X.size2();
    const std::size_t ycols = Y.size2();
    for (std::size_t s = 0; s < samples; ++s) {
        const double x1 = x[s * xcols];
        const double x2 = x[s * xcols + 1];
        const std::size_t k = y[s * ycols] != 0 ? 0 : (y[s * ycols + 1] != 0 ? 1 : 2);
        if (k < 2) {
            counts[k] += 1.0;  // class 2's size follows from N below
        }
        sums[k][0] += x1;
        sums[k][1] += x2;
        sums[k][2] += x1 * x1;
        sums[k][3] += x2 * x2;
        const double x12 = x1 * x2;
        cross[k] += x12;
        cross_all += x12;
    }

    groupCounts(0) = counts[0];
    groupCounts(1) = counts[1];
    groupCounts(2) = static_cast<double>(N) - counts[0] - counts[1];
    for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t j = 0; j < 4; ++j) {
            groupStats(k, j) = sums[k][j];
        }
        // Divisor c, not c - 1: maximum-likelihood estimates. An empty class
        // gives 0/0 here on purpose; the MC test maps that to its sentinel.
        const double c = groupCounts(k);
        const double m1 = sums[k][0] / c;
        const double m2 = sums[k][1] / c;
        groupCov(k, 0) = sums[k][2] / c - m1 * m1;
        groupCov(k, 1) = sums[k][3] / c - m2 * m2;
        const double cov = cross[k] / c;
        groupCov(k, 2) = cov - (m1 * sums[k][1]) / c;
    }

    // Whole-sample variances come from the per-run moments; only the cross
    // product needs this pass.
    const double mean1 = GeneMoments(g1, 0);
    const double mean2 = GeneMoments(g2, 0);
    groupCov(3, 0) = GeneMoments(g1, 1) - mean1 * mean1;
    groupCov(3, 1) = GeneMoments(g2, 1) - mean2 * mean2;
    groupCov(3, 2) = cross_all / static_cast<double>(N) - mean1 * mean2;
}
