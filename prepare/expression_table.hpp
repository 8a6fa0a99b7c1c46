#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

// An expression file: a matrix (header "label sample...", then "gene value...")
// or a BED file whose header starts with "#chr": "#chr start end id", then the
// samples; when the 6th header name is "strd" or "strand" (the six-column
// layouts: "pid gid strand", "name score strand", "id length strand") the
// first six columns are annotation. Header names are compared ignoring case.
// Tab-separated either way.
struct Gene {
    std::string id, chrom = ".", start = ".", end = ".";
    std::vector<std::string> values;  // one token per sample column
};

struct ExpressionTable {
    std::vector<std::string> samples;
    std::vector<Gene> genes;
};

// `name` is the file name for the messages. `bed_columns` (4 or 6) says the
// file is a BED with that many annotation columns; 0 leaves it to the header.
// Throws ProgramError on uneven rows, duplicate sample or gene IDs, no
// samples, or, going by the header, a sample column named like an annotation
// column (strand, score, ...): a layout the header rule misread.
ExpressionTable parse_expression(const std::string& text, const std::string& name, std::size_t bed_columns = 0);

// How the file's values relate to morv's raw positive values.
enum class Scale { raw, log2, log10, ln };

// A computed value as morv reads it: "%.17g", which reads back to the same double.
std::string exact_text(double v);

struct GeneCounts {
    std::size_t kept = 0, not_listed = 0, missing = 0, non_numeric = 0, not_positive = 0, out_of_range = 0,
                mostly_tied = 0;  // under ranks: more than half the samples on one value
};

struct KeptGenes {
    std::vector<std::size_t> rows;                  // into ExpressionTable::genes, file order
    std::vector<std::vector<std::string>> values;   // the tokens morv reads, per kept gene
    std::vector<std::vector<double>> raw;           // the same values as numbers on the raw scale
    GeneCounts counts;
};

// Keeps the genes (all, or those in `listed` when it is not empty) whose
// value in every column of `columns` makes a positive number, or a
// non-negative one when `zeros_ok` (the values are transformed later).
KeptGenes select_genes(const ExpressionTable& table, const std::vector<std::size_t>& columns,
                       const std::set<std::string>& listed, Scale scale, bool zeros_ok = false);
