#pragma once

#include <cstdint>
#include <string>

#include "files/manifest.hpp"
#include "merge/output_file.hpp"
#include "results/shard_record.hpp"

// One result file to merge: its record, its manifest when it has one, and
// where in the file its header and its result lines are.
struct ShardFile {
    std::string path;
    ShardRecord record;
    bool hasManifest = false;
    Manifest manifest;
    std::string header;  // the three header lines, decompressed
    // The bytes of the file that hold the header (plain: its lines, BGZF: the
    // first block) and the result lines (BGZF: their blocks, without the EOF
    // block).
    std::uint64_t bodyBegin = 0, bodyEnd = 0;
    std::uint64_t size = 0;
    std::string checksum;    // of the whole file, taken while copying it
    std::uint64_t lines = 0;  // result lines, counted while copying
};

// The record (and manifest) beside `path`; throws ProgramError when the record
// is missing or malformed, or the manifest is malformed.
ShardFile read_shard(const std::string& path);

// Checks the file against its record before anything is copied: a regular
// file (opened without blocking), compressed as the record says (BGZF must
// be BGZF, plain must not be compressed at all), three header lines (alone in
// the first BGZF block), complete (plain: ends with a newline; BGZF: ends
// with the EOF block). Fills header, bodyBegin and bodyEnd. Throws ProgramError.
void inspect_shard(ShardFile& shard);

// Appends the shard's header and result lines, and takes its size and
// checksum. Every line is checked as it passes: its SNP, gene 1 and gene 2
// strictly after the line before (g1 < g2 < the record's genes), its SNP in
// the record's range, its flag 0, 1 or 2 (never 0 when pruned pairs were
// left out), seven fields; at the end the first and last SNPs and the line
// count must be what the record says. A BGZF shard's blocks are copied as
// they are, each one checked first: its sizes, its CRC, whole lines. Reads
// `pieceBytes` (at least a BGZF block) at a time. Throws ProgramError.
void copy_shard(ShardFile& shard, OutputFile& out, bool withHeader, std::size_t pieceBytes);
