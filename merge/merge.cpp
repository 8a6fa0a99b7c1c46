#include "merge/merge.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <htslib/bgzf.h>

#include "driver/bgzf_blocks.hpp"
#include "merge/merge_error.hpp"
#include "merge/output_file.hpp"
#include "merge/shard_file.hpp"

namespace {

[[noreturn]] void fail(const std::string& message)
{
    throw MergeError(message);
}

std::string snps(std::uint64_t first, std::uint64_t last)
{
    return first == last ? "SNP " + std::to_string(first)
                         : "SNPs " + std::to_string(first) + "-" + std::to_string(last);
}

std::string named(const ShardFile& s)
{
    return s.path + " (" + snps(s.record.first, s.record.last) + ")";
}

// The merged file can only be of one kind: every shard must be written alike.
void check_alike(const std::vector<ShardFile>& shards)
{
    const ShardFile& a = shards.front();
    for (const ShardFile& b : shards) {
        const auto kind = [](const ShardFile& s) { return s.record.bgzip ? "BGZF (bgzip 1)" : "plain (bgzip 0)"; };
        const auto pruned = [](const ShardFile& s) {
            return s.record.omitPruned ? "omits pruned pairs (omit-pruned 1)" : "keeps pruned pairs (omit-pruned 0)";
        };
        if (b.record.bgzip != a.record.bgzip)
            fail(a.path + " is " + kind(a) + " but " + b.path + " is " + kind(b) + ": merge shards written alike");
        if (b.record.omitPruned != a.record.omitPruned)
            fail(a.path + " " + pruned(a) + " but " + b.path + " " + pruned(b) + ": merge shards written alike");
    }
}

// Sorted by first SNP, each shard must begin right after the one before.
// Returns the union's record, with the counts summed.
ShardRecord union_of(const std::vector<ShardFile>& shards)
{
    ShardRecord total = shards.front().record;
    for (std::size_t i = 1; i < shards.size(); ++i) {
        const ShardRecord &a = shards[i - 1].record, &b = shards[i].record;
        if (b.first <= a.last)
            fail(named(shards[i - 1]) + " and " + named(shards[i]) + " both hold " +
                 snps(b.first, std::min(a.last, b.last)));
        if (b.first - a.last > 1)
            fail(snps(a.last + 1, b.first - 1) + (b.first - a.last > 2 ? " are" : " is") + " in no shard: " +
                 shards[i - 1].path + " ends at SNP " + std::to_string(a.last) + ", " + shards[i].path +
                 " begins at SNP " + std::to_string(b.first));
        total.last = b.last;
        total.pairs += b.pairs;
        total.prunings += b.prunings;
    }
    return total;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

void check_same_header(const ShardFile& a, const ShardFile& b)
{
    if (a.header == b.header)
        return;
    const std::vector<std::string> la = lines_of(a.header), lb = lines_of(b.header);
    std::size_t k = 0;
    while (la[k] == lb[k])
        ++k;
    fail("the header of " + b.path + " differs from that of " + a.path + " (line " + std::to_string(k + 1) +
         ": \"" + lb[k] + "\" against \"" + la[k] + "\"): were they run on the same inputs and threshold?");
}

}  // namespace

ShardRecord merge_shards(const std::string& out, const std::vector<std::string>& paths, std::size_t pieceBytes)
{
    std::vector<ShardFile> shards;
    for (const std::string& path : paths)
        shards.push_back(read_shard(path));
    check_alike(shards);
    std::stable_sort(shards.begin(), shards.end(),
                     [](const ShardFile& a, const ShardFile& b) { return a.record.first < b.record.first; });
    const ShardRecord total = union_of(shards);
    for (ShardFile& s : shards) {
        inspect_shard(s);
        check_same_header(shards.front(), s);
        std::error_code ignored;  // false when OUT does not exist yet
        if (std::filesystem::equivalent(out, s.path, ignored))
            fail("-o " + out + " is one of the shards: merge into a new file");
    }

    pieceBytes = std::max<std::size_t>(pieceBytes, BGZF_MAX_BLOCK_SIZE);
    OutputFile merged(out, pieceBytes);
    copy_header(shards.front(), merged);
    for (const ShardFile& s : shards)
        copy_body(s, merged, pieceBytes);
    if (total.bgzip)
        put(merged, bgzf_eof_block().data(), bgzf_eof_block().size());
    // A record must never describe another file than the one beside it.
    remove_shard_record(out);
    commit_output(merged);
    if (!write_shard_record(out, total)) {
        std::remove(out.c_str());
        fail("cannot write the record " + shard_record_path(out));
    }
    return total;
}
