#pragma once

// Counts of -log10 p per statistic over every pair a run scanned, whatever
// its result file keeps: what false-discovery control needs at chromosome
// scale, where the result lines themselves are too many to sort. One file
// holds the real scan and the scans with the samples' genotypes permuted;
// histograms of SNP ranges (shards) add up to the whole run's.
//
// Bins are of the value the result file prints: bin b holds the pairs whose
// printed log10 p lies in (-(b+1)/100, -b/100], so a row read back from the
// result file falls in the very bin the scan counted it in. Printed values
// at or above 0 (p of 1, or the MC test's 2) are bin 0; values at or below
// -300 (a p-value of 0 prints "-inf") are the last bin. Not-a-number values
// and tests the cascade never ran are counted apart.
//
// `<file>`, plain text, lines in this order:
//     morv-histogram 1
//     inputs GENOTYPE EXPRESSION ALLELE     (XXH3 of each input, 16 hex digits)
//     threshold T                           (%.17g)
//     samples N
//     genes G
//     snps-in-file S
//     snps FIRST-LAST                       (inclusive, 0-based)
//     bins-per-unit 100
//     bins 30001
//     permutations K
//     seed S                                (0 when K is 0)
//     within W                              (none, or XXH3 of the sample groups)
// then K + 1 scans, the real one first:
//     scan real | scan permutation k        (k = 1..K)
//     pairs P
//     mc-nan A                              (MC p-value not a number)
//     it-untested B                         (pairs stopped before the interaction test)
//     it-nan C
//     mc BIN COUNT                          (only bins with a count, increasing)
//     it BIN COUNT
// and the line `end`. The counts of one statistic add up to P: its bins plus
// its not-a-number and untested counts.

#include <cstdint>
#include <string>
#include <vector>

#include "files/manifest.hpp"

constexpr unsigned kBinsPerUnit = 100;  // bins per unit of -log10 p
constexpr unsigned kLastBin = 30000;    // -log10 p of 300 and beyond
constexpr unsigned kBins = kLastBin + 1;
constexpr unsigned kMaxPermutations = 100000;  // more than any study needs; bounds a damaged file's claim

// One statistic's counts in one scan.
struct StatCounts {
    std::vector<std::uint64_t> bins = std::vector<std::uint64_t>(kBins, 0);
    std::uint64_t nan = 0;
    std::uint64_t untested = 0;  // the cascade stopped before this test
};

struct HistogramScan {
    std::uint64_t pairs = 0;
    StatCounts mc, it;
};

// What a histogram was made from; histograms add only when these agree
// (besides the SNP range, which must continue).
struct HistogramOrigin {
    std::string inputs;  // the three checksums, blank-separated
    double threshold = 0.0;
    std::uint64_t samples = 0, genes = 0, snpsInFile = 0;
    std::uint64_t firstSnp = 0, lastSnp = 0;
    unsigned permutations = 0;
    std::uint64_t seed = 0;
    std::string within = "none";
};

struct Histogram {
    HistogramOrigin origin;
    std::vector<HistogramScan> scans;  // [0] the real data, then permutations 1..K
};

// The `inputs` of a histogram from a run's manifest: the checksums of its
// genotype, expression and allele files, "-" for one read from a FIFO (never
// hashed).
std::string histogram_inputs(const Manifest& run);

// The bin of a printed log10 p whose six-decimal value is micro / 1e6 (as
// the fast scan holds a pruned pair's value).
inline unsigned bin_of_micro(long long micro)
{
    if (micro >= 0)
        return 0;
    const unsigned long long units = static_cast<unsigned long long>(-micro) / (1000000 / kBinsPerUnit);
    return units >= kLastBin ? kLastBin : static_cast<unsigned>(units);
}

// The value's "%f" text (as the result file holds it) counted into c.
// False when the text is no such value.
bool count_printed(StatCounts& c, const char* text, const char* end);

// The bin of a "%f" text: false with nan set for a not-a-number, false
// without for a text that is no number of that form.
bool bin_of_text(const char* text, const char* end, unsigned& bin, bool& nan);

// a += b. The scans' counts add; the origin is a's.
void add_scan(HistogramScan& a, const HistogramScan& b);

// The file's text, and the file written under a temporary name. Throws
// FileError.
std::string histogram_text(const Histogram& h);
void write_histogram(const std::string& path, const Histogram& h);

// Reads a histogram file. Throws ProgramError naming the file and line when
// it is not exactly the format above or its counts do not add up.
Histogram read_histogram(const std::string& path);

// `a` then `b`, the SNP range of b right after a's: their sum. Throws
// ProgramError saying what differs when they were not made alike.
Histogram add_histograms(const Histogram& a, const Histogram& b, const std::string& aName,
                         const std::string& bName);
