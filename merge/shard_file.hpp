#pragma once

#include <cstdint>
#include <string>

#include "driver/shard_record.hpp"
#include "merge/output_file.hpp"

// One result file to merge: its record and where in the file its header and
// its result lines are.
struct ShardFile {
    std::string path;
    ShardRecord record;
    std::string header;  // the three header lines, decompressed
    // The bytes of the file that hold the header (plain: its lines, BGZF: the
    // first block) and the result lines (BGZF: their blocks, without the EOF
    // block).
    std::uint64_t bodyBegin = 0, bodyEnd = 0;
};

// The record beside `path`; throws MergeError when it is missing or malformed.
ShardFile read_shard(const std::string& path);

// Checks the file against its record before anything is copied: readable,
// compressed as the record says (BGZF must be BGZF, plain must not be
// compressed at all), three header lines (alone in the first BGZF block),
// complete (plain: ends with a newline; BGZF: ends with the EOF block).
// Fills header, bodyBegin and bodyEnd. Throws MergeError.
void inspect_shard(ShardFile& shard);

// Appends the bytes of the header as they are in the file.
void copy_header(const ShardFile& shard, OutputFile& out);

// Appends the shard's result lines: a plain file's bytes, counted against
// the record's pairs; a BGZF file's blocks as they are, each one's header
// checked, the last lines checked to end with a newline. Throws MergeError.
// Reads `pieceBytes` (at least a BGZF block) at a time.
void copy_body(const ShardFile& shard, OutputFile& out, std::size_t pieceBytes);
