#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "files/manifest.hpp"
#include "results/shard_record.hpp"

// `pieceBytes`: how much is read from a shard and buffered for OUT at a time
// (at least a BGZF block); large, so that hundreds of GB stream fast.
constexpr std::size_t kMergePieceBytes = std::size_t(8) << 20;

struct MergeRun {
    Manifest manifest;                  // begun by the caller (begin_manifest), completed by the merge
    std::vector<std::string> warnings;  // what could not be checked (shards without a manifest)
    std::size_t pieceBytes = kMergePieceBytes;
    std::string histogram;  // --histogram: where the sum of the shards' histograms goes; "" for none
};

// Joins the result files of morv runs over consecutive SNP ranges (shards,
// given in any order, each with its record) into `out`: the header once,
// then every shard's lines in SNP order; BGZF shards give a BGZF file of
// their blocks as they are. Writes OUT's own record, whose range is the
// union and whose counts are the sums, so that merged files can be merged
// again, and OUT's manifest; returns the record. Everything that can be
// checked before copying is checked first: the records (present, alike,
// contiguous ranges, the same genes), the manifests (complete, matching
// their records, the same inputs and threshold), the paths (OUT a regular
// file or new, none of the shards' files), then each file (compression,
// header, complete); every line and block is checked while copying. Throws
// ProgramError; OUT and its record and manifest are then left as they were.
// With run.histogram, the shards' histograms (merge/histograms.hpp) are
// checked before anything is copied and their sum written beside OUT.
ShardRecord merge_shards(const std::string& out, const std::vector<std::string>& shards, MergeRun& run);
