#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The permutations of the scans under the null: which sample's genotypes
// each sample takes. Permutation k of a seed depends on nothing else than
// the seed, k, the number of samples and their groups, so every shard of a
// run, on any number of threads, permutes alike. The generator is this
// file's own (the standard library's shuffles and distributions differ
// between implementations): splitmix64 (Steele, Lea and Flood, 2014) from
// the state mix(mix(seed) + k), draws bounded without bias by rejection,
// and a Fisher-Yates shuffle of each group's rows, the groups in the order
// of their first row, from the last position down.

// Row s of the permuted genotype table is row rows[s] of the real one.
// groupOf: each row's group, numbered from 0 in the order of first
// appearance; empty when all samples form one group.
std::vector<std::size_t> sample_permutation(std::uint64_t seed, unsigned k, std::size_t samples,
                                            const std::vector<unsigned>& groupOf);

// The groups of --permute-within FILE: each genotype row's group number,
// and the checksum of the rows' group labels in row order (one per line),
// which the histogram records so that alike groupings are seen alike.
struct SampleGroups {
    std::vector<unsigned> groupOf;
    std::string checksum;
};

// Reads FILE: per line a sample and its group, blank-separated; a first line
// "sample group" is a header. A sample is an ID of the samples.tsv beside
// the genotype file (its genotype or expression ID) or else a row index
// counted from 0. Every row needs exactly one group. Ends the run with an
// "Error: " line otherwise.
SampleGroups read_sample_groups(const std::string& path, const std::string& genotypePath,
                                std::size_t samples);
