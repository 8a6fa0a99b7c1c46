#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What morv-annotate --effects reads of a prepared folder, as morv reads it:
// each sample's genotype class by SNP and log10 of the expression by gene.
// Loaded once; a row then costs one pass or two over its samples.
struct EffectTables {
    std::size_t samples = 0;
    std::vector<unsigned char> classes;  // classes[snp * samples + s]: 0, 1 or 2
    std::vector<double> logs;            // logs[gene * samples + s]
};

// Reads DIR/allele.txt, genotype.txt and expression.txt. Throws ProgramError
// naming the file (and line) when they disagree with each other or with the
// `snps` and `genes` rows of snps.tsv and genes.tsv.
EffectTables read_effect_tables(const std::string& dir, std::size_t snps, std::size_t genes);

// One row's effects; NaN where a value is undefined (written NA):
// r of a class under 3 samples or with a gene constant in it; the F-test of
// a gene over fewer than two non-empty classes or constant within each.
struct PairEffects {
    std::size_t n[3] = {0, 0, 0};
    double r[3] = {0, 0, 0};        // Pearson r of the two genes in each class
    double log10_p[2] = {0, 0};     // one-way ANOVA of gene 1, gene 2 over the classes
};
PairEffects pair_effects(const EffectTables& t, std::size_t snp, std::size_t gene1, std::size_t gene2);

// The header's extra column names and a row's values, each after a tab.
extern const char* const kEffectColumns;
std::string effect_columns(const PairEffects& e);
