#include "prepare/transform.hpp"

#include <cmath>

#include "prepare/covariates.hpp"
#include "prepare/normalise.hpp"

namespace {

// More than half the samples on one value (mostly zeros, say): the ranks
// would be one big tie and a few outliers.
void drop_mostly_tied(KeptGenes& genes)
{
    std::size_t kept = 0;
    for (std::size_t g = 0; g < genes.rows.size(); ++g) {
        if (2 * largest_tie(genes.raw[g]) > genes.raw[g].size()) {
            ++genes.counts.mostly_tied;
            --genes.counts.kept;
            continue;
        }
        if (kept != g) {  // a vector moved onto itself would be left empty
            genes.rows[kept] = genes.rows[g];
            genes.values[kept] = std::move(genes.values[g]);
            genes.raw[kept] = std::move(genes.raw[g]);
        }
        ++kept;
    }
    genes.rows.resize(kept);
    genes.values.resize(kept);
    genes.raw.resize(kept);
}

// Each gene's log10(value + pseudo-count), one column per gene.
Eigen::MatrixXd log10_matrix(const KeptGenes& genes, double pseudocount)
{
    const auto n = static_cast<Eigen::Index>(genes.raw.empty() ? 0 : genes.raw[0].size());
    Eigen::MatrixXd y(n, static_cast<Eigen::Index>(genes.raw.size()));
    for (Eigen::Index g = 0; g < y.cols(); ++g)
        for (Eigen::Index s = 0; s < n; ++s)
            y(s, g) = std::log10(genes.raw[static_cast<std::size_t>(g)][static_cast<std::size_t>(s)] + pseudocount);
    return y;
}

void write_log10(std::vector<std::string>& tokens, const std::vector<double>& v)
{
    for (std::size_t s = 0; s < v.size(); ++s)
        tokens[s] = exact_text(std::pow(10.0, v[s]));
}

}  // namespace

bool zeros_allowed(const ValueSettings& s)
{
    return s.pseudocount > 0 || (s.transform == Transform::inverse_normal && !s.covariates);
}

void transform_genes(KeptGenes& genes, const ValueSettings& s)
{
    const bool ranks = s.transform == Transform::inverse_normal;
    if (ranks)
        drop_mostly_tied(genes);
    if (s.covariates) {
        Eigen::MatrixXd y = log10_matrix(genes, s.pseudocount);
        const Eigen::VectorXd means = y.colwise().mean();
        residualise(*s.covariates, y);
        for (std::size_t g = 0; g < genes.rows.size(); ++g) {
            const Eigen::VectorXd r = y.col(static_cast<Eigen::Index>(g));
            std::vector<double> v(r.data(), r.data() + r.size());
            if (ranks)
                v = inverse_normal(v);
            else  // the residuals about the gene's own level, for those who want log values
                for (double& x : v)
                    x += means(static_cast<Eigen::Index>(g));
            write_log10(genes.values[g], v);
        }
        return;
    }
    for (std::size_t g = 0; g < genes.rows.size(); ++g) {
        if (ranks)
            write_log10(genes.values[g], inverse_normal(genes.raw[g]));
        else if (s.pseudocount > 0)
            for (std::size_t k = 0; k < genes.raw[g].size(); ++k)
                genes.values[g][k] = exact_text(genes.raw[g][k] + s.pseudocount);
    }
}
