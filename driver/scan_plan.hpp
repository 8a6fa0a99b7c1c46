#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The scan cut into units of work that threads take in turn and whose result
// lines are written in unit order, so the file is the same for any number of
// threads. A unit is either a run of whole SNPs (when one SNP has few pairs)
// or a run of gene rows of one SNP (when it has many); row cuts fall on
// multiples of the fast scan's row block.
struct ScanUnit {
    unsigned snpBegin = 0, snpEnd = 0;     // SNPs [snpBegin, snpEnd)
    std::size_t rowBegin = 0, rowEnd = 0;  // first genes g1 in [rowBegin, rowEnd)
};

struct ScanPlan {
    unsigned first = 0, end = 0;  // SNPs [first, end)
    std::size_t genes = 0;
    unsigned snpsPerUnit = 1;          // > 1 only when whole SNPs are grouped
    std::vector<std::size_t> rowCuts;  // row ranges of one SNP: [cut k, cut k+1)
    std::size_t units = 0;
};

// Units of about targetPairs pairs (at least one row block or one SNP each).
// rowAlign is the row block every cut must be a multiple of.
ScanPlan plan_scan(unsigned first, unsigned end, std::size_t genes, std::uint64_t targetPairs,
                   std::size_t rowAlign);

ScanUnit unit_at(const ScanPlan& plan, std::size_t u);

// Pairs visited by one unit and by the whole plan.
std::uint64_t unit_pairs(const ScanPlan& plan, const ScanUnit& unit);
std::uint64_t plan_pairs(const ScanPlan& plan);

// Pair counts per unit: small enough for many units per thread (the work of
// a unit varies with how many of its pairs reach the interaction test), large
// enough that taking a unit and writing it cost nothing next to computing it.
std::uint64_t unit_target_pairs(std::uint64_t totalPairs, unsigned threads);
