#pragma once

#include <cstdint>
#include <string>

// What a run over a range of SNPs (a shard) leaves beside its result file, so
// that morv-merge can join shards without trusting their names: the range,
// the counts morv printed, and how the file was written. A result file
// without its record is incomplete: morv removes the record when it starts
// writing the file and writes it only at the successful end.
//
// `<result>.shard`, plain text, exactly these lines:
//     morv-shard 2
//     snps FIRST-LAST
//     pairs P
//     prunings Q
//     lines L
//     omit-pruned 0|1
//     bgzip 0|1
// L is the number of result lines in the file: P, or fewer with
// --omit-pruned. Records of the first version (morv-shard 1, without the
// lines) are still read; their line count is unknown.
struct ShardRecord {
    std::uint64_t first = 0, last = 0, pairs = 0, prunings = 0;  // SNPs first..last, inclusive, 0-based
    bool omitPruned = false, bgzip = false;
    std::uint64_t lines = 0;
    bool linesKnown = true;  // false for a record of the first version
};

// The highest SNP index morv can write (its counts are 32-bit signed).
constexpr std::uint64_t kMaxSnpIndex = 2147483646;

// The number of genes whose pairs make the record's pairs per SNP, n with
// n (n - 1) / 2 = pairs / SNPs; 0 when there is no such number. A record with
// no pairs (one gene or none) gives 1.
std::uint64_t genes_of(const ShardRecord& r);

// resultPath + ".shard".
std::string shard_record_path(const std::string& resultPath);

// Writes the record to a temporary file beside it and renames it into place,
// so a record is never seen half written. Throws FileError (the temporary is
// then removed), also when the record's path is taken by anything but a
// regular file.
void write_shard_record(const std::string& resultPath, const ShardRecord& r);

// Removes the record; no error when there is none.
void remove_shard_record(const std::string& resultPath);

// Reads the record of `resultPath` in the exact format above. False with
// `why` (a sentence naming the record file) when it is missing, unreadable or
// not exactly that format.
bool read_shard_record(const std::string& resultPath, ShardRecord& r, std::string& why);
