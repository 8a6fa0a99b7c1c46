#pragma once

#include <cstdint>

#include "driver/startup.hpp"
#include "io/matrices.hpp"

// What a finished scan reports. 64-bit: runs with more than 2^32 SNP and
// gene-pair combinations are within reach.
struct ScanCounts {
    std::uint64_t pairs = 0;     // SNP and gene-pair combinations visited
    std::uint64_t prunings = 0;  // those stopped before the interaction test
};

// Appends one result line per SNP and gene pair (g1 < g2) to the result file,
// whose header is already written, in the order SNP, g1, g2. Two engines
// implement it with byte-identical results: the reference scan, written the
// plain way, and the fast scan shipped in `morv`.
ScanCounts run_scan(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                    ExpressionMatrix& E, ublas::matrix<double>& geneMoments);
