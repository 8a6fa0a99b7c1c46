#pragma once

#include <string>
#include <vector>

#include "prepare/expression_table.hpp"
#include "prepare/output_set.hpp"
#include "prepare/sample_match.hpp"
#include "prepare/vcf_reader.hpp"

// What morv-prepare writes into its folder: genotype.txt, expression.txt,
// allele.txt, snps.tsv, genes.tsv, samples.tsv and manifest.json.
extern const std::vector<std::string> kOutputNames;

// Writes all but the manifest into `out`, to be committed with it. Throws
// ProgramError.
void write_outputs(OutputSet& out, const SampleMatch& samples, const Genotypes& genotypes,
                   const ExpressionTable& table, const KeptGenes& genes);
