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
//     morv-shard 1
//     snps FIRST-LAST
//     pairs P
//     prunings Q
//     omit-pruned 0|1
//     bgzip 0|1
struct ShardRecord {
    std::uint64_t first = 0, last = 0, pairs = 0, prunings = 0;  // SNPs first..last, inclusive, 0-based
    bool omitPruned = false, bgzip = false;
};

// resultPath + ".shard".
std::string shard_record_path(const std::string& resultPath);

// Writes the record to a temporary file beside it and renames it into place,
// so a record is never seen half written. False on any failure (the
// temporary is then removed).
bool write_shard_record(const std::string& resultPath, const ShardRecord& r);

// Removes the record; no error when there is none.
void remove_shard_record(const std::string& resultPath);

// Reads the record of `resultPath` in the exact format above. False with
// `why` (a sentence naming the record file) when it is missing, unreadable or
// not exactly that format.
bool read_shard_record(const std::string& resultPath, ShardRecord& r, std::string& why);
