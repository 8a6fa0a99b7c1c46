#pragma once

// One SNP and gene pair's test data, written as (class, x1, x2) per sample,
// with GeneMoments rows 0 and 1 made from the same values as start-up makes
// them and zeroed work objects, as the scan hands them to the statistics.
#include <vector>

#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

#include "io/globals.hpp"
#include "stats/mean_cov.hpp"

namespace testsupport {

struct Sample {
    unsigned cls;
    double x1, x2;
};

struct Pair {
    boost::numeric::ublas::matrix<double> X, moments{2, 2, 0.0}, stats{3, 4, 0.0}, cov{4, 3, 0.0};
    boost::numeric::ublas::matrix<unsigned> Y;
    boost::numeric::ublas::vector<double> counts{3, 0.0};
    double statistic = 0.0;
    unsigned g1 = 0, g2 = 1;

    explicit Pair(const std::vector<Sample>& samples) : X(samples.size(), 2), Y(samples.size(), 2)
    {
        for (std::size_t s = 0; s < samples.size(); ++s) {
            X(s, 0) = samples[s].x1, X(s, 1) = samples[s].x2;
            Y(s, 0) = samples[s].cls == 0, Y(s, 1) = samples[s].cls == 1;
            for (std::size_t g = 0; g < 2; ++g) {
                moments(g, 0) += X(s, g) / static_cast<double>(samples.size());
                moments(g, 1) += (X(s, g) * X(s, g)) / static_cast<double>(samples.size());
            }
        }
    }

    // The MC test's p-value; fills the group statistics as the scan does.
    double mc()
    {
        n = static_cast<int>(X.size1());
        return test_mean_cov(X, Y, moments, stats, cov, counts, statistic, g1, g2);
    }
};

}  // namespace testsupport
