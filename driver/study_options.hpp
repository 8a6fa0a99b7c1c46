#pragma once

#include <cstdint>
#include <string>

// Options for running a study at scale. They never change what is computed,
// only how: on how many threads, over which SNPs, and how the result file is
// written; and what is counted beside it (the histogram and its scans of
// permuted genotypes), never a result line. A run that gives none of them is
// the classic run, byte for byte.
struct StudyOptions {
    unsigned threads = 1;
    bool snpRange = false;  // --snps given
    std::uint64_t firstSnp = 0, lastSnp = 0;
    bool omitPruned = false;
    bool bgzip = false;
    std::string histogram;         // --histogram FILE, "" without
    unsigned permutations = 0;     // --permutations K
    bool seedGiven = false;        // --seed S
    std::uint64_t seed = 0;
    std::string permuteWithin;     // --permute-within FILE, "" without
    bool any = false;  // some option of this kind was given
};

// Takes the long options --threads N, --snps FIRST-LAST, --omit-pruned,
// --bgzip, --histogram FILE, --permutations K, --seed S and --permute-within
// FILE (also as --name=value) out of argv before the classic short
// options are parsed, so those see argv exactly as without them. Words that
// are the arguments of -g, -e, -a or -o are left alone, and so is everything
// after "--". A malformed value, or an option without the one it needs,
// ends the process with an "Error: " line.
void take_study_options(int& argc, char** argv, StudyOptions& options);

// Ends the process with an "Error: " line unless FIRST-LAST lies within the
// genotype file's SNPs.
void check_snp_range(const StudyOptions& options, int snps);
