#include "prepare/covariates.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "files/checked_input.hpp"
#include "files/program_error.hpp"
#include "prepare/text_file.hpp"

namespace {

// Columns whose pivots fall below this share of the largest are dependent:
// the covariates are standardised first, so it is a relative bound.
constexpr double kRankTolerance = 1e-9;

double number(const std::string& token, const std::string& where)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(token.c_str(), &end);
    if (token.empty() || end != token.c_str() + token.size() || errno == ERANGE || !std::isfinite(v))
        throw ProgramError(where + ": \"" + token + "\" is not a finite number");
    return v;
}

Eigen::Index rank_of(const Eigen::MatrixXd& m)
{
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(m);
    qr.setThreshold(kRankTolerance);
    return qr.rank();
}

// The file's columns of the kept samples, by whichever of the two ID sets
// the file uses.
std::vector<std::size_t> sample_columns(const CovariateTable& table, const std::string& path,
                                        const std::vector<std::string>& expression_ids,
                                        const std::vector<std::string>& genotype_ids)
{
    std::unordered_map<std::string, std::size_t> column_of;
    for (std::size_t i = 0; i < table.samples.size(); ++i)
        column_of[table.samples[i]] = i;
    const auto any_of = [&](const std::vector<std::string>& ids) {
        for (const std::string& id : ids)
            if (column_of.count(id))
                return true;
        return false;
    };
    const std::vector<std::string>& ids = !any_of(expression_ids) && any_of(genotype_ids) ? genotype_ids : expression_ids;
    std::vector<std::size_t> columns;
    for (const std::string& id : ids) {
        const auto it = column_of.find(id);
        if (it == column_of.end())
            throw ProgramError("the covariate file " + path + " has no column for the kept sample " + id);
        columns.push_back(it->second);
    }
    return columns;
}

}  // namespace

CovariateTable read_covariates(const std::string& path)
{
    const std::vector<std::string> lines = split_lines(read_checked_text(path));
    CovariateTable table;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> fields = split_blanks(lines[i]);
        const std::string where = "the covariate file " + path + " line " + std::to_string(i + 1);
        if (fields.empty())
            continue;
        if (table.samples.empty() && table.names.empty()) {
            if (fields.size() < 2)
                throw ProgramError(where + " names no samples");
            table.samples.assign(fields.begin() + 1, fields.end());
            for (const std::string& s : table.samples)
                if (!seen.insert(s).second)
                    throw ProgramError(where + " names sample " + s + " twice");
            seen.clear();
            continue;
        }
        if (fields.size() != table.samples.size() + 1)
            throw ProgramError(where + " has " + std::to_string(fields.size()) + " fields, the header " +
                               std::to_string(table.samples.size() + 1));
        if (!seen.insert(fields[0]).second)
            throw ProgramError(where + " repeats covariate " + fields[0]);
        std::vector<double> values;
        for (std::size_t k = 1; k < fields.size(); ++k)
            values.push_back(number(fields[k], where + " (" + fields[0] + ", " + table.samples[k - 1] + ")"));
        table.names.push_back(fields[0]);
        table.values.push_back(std::move(values));
    }
    if (table.names.empty())
        throw ProgramError("the covariate file " + path + " holds no covariate");
    return table;
}

Covariates match_covariates(const CovariateTable& table, const std::string& path,
                            const std::vector<std::string>& expression_ids,
                            const std::vector<std::string>& genotype_ids)
{
    const std::vector<std::size_t> columns = sample_columns(table, path, expression_ids, genotype_ids);
    const auto n = static_cast<Eigen::Index>(columns.size()), c = static_cast<Eigen::Index>(table.names.size());
    if (n <= c + 1)
        throw ProgramError("the covariate file " + path + " has " + std::to_string(c) +
                           " covariates: with the intercept they leave no residual degrees of freedom for " +
                           std::to_string(n) + " samples");
    Covariates out;
    out.names = table.names;
    out.extra_samples = table.samples.size() - columns.size();
    out.design.resize(n, c + 1);
    out.design.col(0).setOnes();
    for (Eigen::Index j = 0; j < c; ++j)
        for (Eigen::Index s = 0; s < n; ++s)
            out.design(s, j + 1) = table.values[static_cast<std::size_t>(j)][columns[static_cast<std::size_t>(s)]];
    // Standardised copies for the rank checks: a covariate in large units
    // must not look independent only because of its scale.
    Eigen::MatrixXd scaled = out.design;
    for (Eigen::Index j = 1; j <= c; ++j) {
        scaled.col(j).array() -= scaled.col(j).mean();
        const double norm = scaled.col(j).norm(), size = out.design.col(j).cwiseAbs().maxCoeff();
        if (!(norm > kRankTolerance * size * std::sqrt(static_cast<double>(n))))
            throw ProgramError("the covariate " + table.names[static_cast<std::size_t>(j - 1)] + " of " + path +
                               " is constant over the " + std::to_string(n) + " kept samples");
        scaled.col(j) /= norm;
    }
    scaled.col(0) /= std::sqrt(static_cast<double>(n));
    if (rank_of(scaled) == c + 1)
        return out;
    for (Eigen::Index j = 2; j <= c; ++j)
        if (rank_of(scaled.leftCols(j + 1)) < j + 1)
            throw ProgramError("the covariate " + table.names[static_cast<std::size_t>(j - 1)] + " of " + path +
                               " is a linear combination of the intercept and the covariates before it "
                               "(collinear covariates): leave it out");
    throw ProgramError("the covariates of " + path + " are collinear");  // unreachable: some prefix loses rank
}

void residualise(const Covariates& covariates, Eigen::MatrixXd& y)
{
    const Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(covariates.design);
    y -= covariates.design * qr.solve(y);
}
