#pragma once

#include <string>

#include "prepare/expression_table.hpp"
#include "prepare/sample_match.hpp"
#include "prepare/vcf_reader.hpp"

// Writes genotype.txt, expression.txt, allele.txt, snps.tsv, genes.tsv and
// samples.tsv into `dir` (created if missing). Each goes to a hidden
// temporary name first and all six are renamed at the end, so a failed run
// never leaves a complete-looking set. Throws PrepareError.
void write_outputs(const std::string& dir, const SampleMatch& samples, const Genotypes& genotypes,
                   const ExpressionTable& table, const KeptGenes& genes);
