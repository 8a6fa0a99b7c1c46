#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "driver/shard_record.hpp"

// Joins the result files of morv runs over consecutive SNP ranges (shards,
// given in any order, each with its record) into `out`: the header once,
// then every shard's lines in SNP order; BGZF shards give a BGZF file of
// their blocks as they are. Writes OUT's own record, whose range is the
// union and whose counts are the sums, so that merged files can be merged
// again; returns it. Everything that can be checked before copying is
// checked first: the records (present, alike, contiguous ranges), then each
// file (compression, header, complete). Throws MergeError; OUT and its
// record are then left as they were.
//
// `pieceBytes`: how much is read from a shard and buffered for OUT at a time
// (at least a BGZF block); large, so that hundreds of GB stream fast.
constexpr std::size_t kMergePieceBytes = std::size_t(8) << 20;
ShardRecord merge_shards(const std::string& out, const std::vector<std::string>& shards,
                         std::size_t pieceBytes = kMergePieceBytes);
