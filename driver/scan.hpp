#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "driver/startup.hpp"
#include "fast/kernels.hpp"
#include "io/matrices.hpp"
#include "results/histogram.hpp"

// What a finished scan reports. 64-bit: runs with more than 2^32 SNP and
// gene-pair combinations are within reach.
struct ScanCounts {
    std::uint64_t pairs = 0;     // SNP and gene-pair combinations visited
    std::uint64_t prunings = 0;  // those stopped before the interaction test
    std::uint64_t lines = 0;     // result lines written: pairs, less those --omit-pruned left out
};

// How the fast scan runs: over which SNPs, on how many threads, and how it
// writes. None of it changes a result line.
struct ScanOptions {
    unsigned firstSnp = 0;
    unsigned endSnp = UINT_MAX;  // SNPs [firstSnp, endSnp), cut at the last one
    unsigned threads = 1;
    bool omitPruned = false;  // leave out the lines of pairs the MC test pruned
    bool bgzip = false;       // the result file is block-gzipped
    bool progress = false;    // a progress line when standard error is a terminal
    // Counts of every pair into histogram->scans[0], then as many scans as
    // its origin's permutations, with the genotype rows permuted from its
    // seed (driver/permutation.hpp, within the groups groupOf when not
    // empty), counted into scans 1..K and writing no line. Null: no
    // histogram, and no per-pair counting.
    Histogram* histogram = nullptr;
    std::vector<unsigned> groupOf;
};

// A scan engine appends one result line per SNP and gene pair (g1 < g2) to
// the result file, whose header is already written, in the order SNP, g1,
// g2. Two engines give byte-identical results: the reference scan, written
// the plain way (the definition of the results), and the fast scan shipped
// in `morv`, which runs on the kernels of one instruction-set level.
ScanCounts run_scan_reference(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                              ExpressionMatrix& E, ublas::matrix<double>& geneMoments);
ScanCounts run_scan_fast(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                         ExpressionMatrix& E, ublas::matrix<double>& geneMoments,
                         const Kernels& kernels, const ScanOptions& options = ScanOptions{});

// Which engine a front end runs.
enum class ScanEngine { reference, fast };
