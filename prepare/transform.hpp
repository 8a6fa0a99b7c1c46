#pragma once

#include "prepare/expression_table.hpp"

struct Covariates;

// How the kept values become the values morv reads. morv takes log10 of
// what it reads, and both of its tests are unchanged by shifting or scaling
// a gene, so a value v on the log10 scale is written as 10^v.
enum class Transform {
    log,            // the file's values (plus a pseudo-count), log10 read by morv
    inverse_normal  // each gene's ranks mapped to normal quantiles
};

struct ValueSettings {
    Transform transform = Transform::log;
    double pseudocount = 0;  // above 0 when given
    const Covariates* covariates = nullptr;  // residualise log10 values on these first
};

// Whether a zero value can be kept: ranks take zeros as ties, and a
// pseudo-count lifts them; only a logarithm of zero itself is refused.
bool zeros_allowed(const ValueSettings& settings);

// Rewrites the tokens of `genes` as `settings` say, dropping (and counting
// in genes.counts) the genes whose ranks are mostly ties. Without a
// transform, pseudo-count or covariates, the file's tokens stay as they are.
void transform_genes(KeptGenes& genes, const ValueSettings& settings);
