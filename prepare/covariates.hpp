#pragma once

#include <Eigen/Dense>
#include <cstddef>
#include <string>
#include <vector>

// A covariate file as eQTL users have it: a header row "id sample...", then
// one row per covariate, "name value...", separated by tabs or blanks, plain
// or gzipped.
struct CovariateTable {
    std::vector<std::string> samples, names;
    std::vector<std::vector<double>> values;  // per covariate, per file column
};

// Throws ProgramError on uneven rows, repeated names, a value that is not a
// finite number, or no covariate.
CovariateTable read_covariates(const std::string& path);

// The least-squares design of the kept samples: an intercept and the
// covariates, one row per kept sample in the kept order.
struct Covariates {
    std::vector<std::string> names;
    Eigen::MatrixXd design;         // n x (1 + covariates)
    std::size_t extra_samples = 0;  // in the file, not kept: ignored
    std::size_t residual_df() const { return static_cast<std::size_t>(design.rows() - design.cols()); }
};

// Samples are looked up by their expression IDs, or by their genotype IDs
// when the file has none of those. Throws ProgramError naming a kept sample
// the file lacks, a constant covariate, or one that is a linear combination
// of the intercept and the covariates before it.
Covariates match_covariates(const CovariateTable& table, const std::string& path,
                            const std::vector<std::string>& expression_ids,
                            const std::vector<std::string>& genotype_ids);

// Replaces each column of `y` (one row per kept sample) by its residuals from
// the least-squares fit on the design: a QR solve, never normal equations,
// which square the condition number.
void residualise(const Covariates& covariates, Eigen::MatrixXd& y);
