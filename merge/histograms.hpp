#pragma once

#include <string>
#include <vector>

#include "merge/shard_file.hpp"
#include "results/histogram.hpp"

// A shard's histogram is `<shard result>.hist`: the shard's run is given
// --histogram with that name, so the histogram travels with its result.
std::string shard_histogram_path(const std::string& resultPath);

// The histograms of the shards, in SNP order, added up: each must be the very
// file its shard's run wrote (its checksum in the shard's manifest) and cover
// the shard's SNPs. Throws ProgramError saying which shard and why.
Histogram sum_shard_histograms(const std::vector<ShardFile>& shards);
