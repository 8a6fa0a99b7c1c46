#include "prepare/near_duplicates.hpp"

#include <Eigen/Dense>
#include <cmath>
#include <cstdlib>

namespace {

// Genes as columns, centred and scaled to unit length, so that a product of
// two columns is their Pearson correlation. A constant gene is all zeros
// and correlates with nothing.
Eigen::MatrixXd unit_columns(const std::vector<std::vector<std::string>>& values)
{
    const auto n = static_cast<Eigen::Index>(values.empty() ? 0 : values[0].size());
    Eigen::MatrixXd z(n, static_cast<Eigen::Index>(values.size()));
    for (Eigen::Index g = 0; g < z.cols(); ++g) {
        for (Eigen::Index s = 0; s < n; ++s)
            z(s, g) = std::log10(std::strtod(values[static_cast<std::size_t>(g)][static_cast<std::size_t>(s)].c_str(), nullptr));
        z.col(g).array() -= z.col(g).mean();
        const double norm = z.col(g).norm();
        if (norm > 0)
            z.col(g) /= norm;
        else
            z.col(g).setZero();
    }
    return z;
}

}  // namespace

NearDuplicates near_duplicates(const std::vector<std::vector<std::string>>& values, double bound, std::size_t keep)
{
    const Eigen::MatrixXd z = unit_columns(values);
    const Eigen::Index genes = z.cols(), block = 256;  // a block of rows of the correlation matrix at a time
    NearDuplicates found;
    for (Eigen::Index from = 0; from < genes; from += block) {
        const Eigen::Index rows = std::min(block, genes - from);
        const Eigen::MatrixXd r = z.middleCols(from, rows).transpose() * z.rightCols(genes - from);
        for (Eigen::Index i = 0; i < rows; ++i)
            for (Eigen::Index j = i + 1; j < r.cols(); ++j)
                if (std::abs(r(i, j)) > bound) {
                    if (found.first.size() < keep) {
                        found.first.emplace_back(from + i, from + j);
                        found.r.push_back(r(i, j));
                    }
                    ++found.pairs;
                }
    }
    return found;
}
