// Fuzz target: morv-merge's shard reader, on one shard with its record. The
// first bytes make the record (format, first SNP, SNPs, genes, lines); with
// bit 2 of the first, the rest is text that the target lays out as morv
// --bgzip does (header block, blocks of whole lines, EOF block) and then
// cuts at a chosen byte (bit 3) or flips its bits (the top four); otherwise the rest is the file itself. A merge
// of one shard must give that shard's bytes again, or refuse.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "files/program_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "merge/merge.hpp"
#include "results/bgzf_blocks.hpp"
#include "results/shard_record.hpp"

namespace {

constexpr std::size_t kPrefix = 8;

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The header in a block of its own, the lines in blocks cut after newlines.
std::string laid_out_as_bgzf(const std::string& text)
{
    std::size_t header = 0;
    for (int k = 0; k < 3 && header != std::string::npos; ++k)
        header = text.find('\n', header == 0 && k == 0 ? 0 : header + 1);
    header = header == std::string::npos ? text.size() : header + 1;
    TextBuffer out;
    bgzf_compress_lines(text.data(), header, 1, out);
    bgzf_compress_lines(text.data() + header, text.size() - header, 1, out);
    out.insert(out.end(), bgzf_eof_block().begin(), bgzf_eof_block().end());
    return std::string(out.begin(), out.end());
}

ShardRecord record_of(const std::uint8_t* p)
{
    ShardRecord r;
    r.bgzip = p[0] & 1;
    r.omitPruned = p[0] & 2;
    r.first = p[1] % 4;
    r.last = r.first + p[2] % 4;
    const std::uint64_t genes = p[3] % 8 + 1;
    r.pairs = (r.last - r.first + 1) * genes * (genes - 1) / 2;
    r.prunings = r.pairs ? p[4] % (r.pairs + 1) : 0;
    r.lines = r.omitPruned && r.pairs ? r.pairs - p[5] % (r.prunings + 1) : r.pairs;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    if (size < kPrefix)
        return 0;
    const ShardRecord record = record_of(data);
    std::string shard(reinterpret_cast<const char*>(data + kPrefix), size - kPrefix);
    if ((data[0] & 4) && record.bgzip) {
        shard = laid_out_as_bgzf(shard);
        const std::size_t at = (data[6] | data[7] << 8) % (shard.size() + 1);
        if (data[0] & 8)
            shard.resize(at);
        else if (at < shard.size())
            shard[at] = static_cast<char>(shard[at] ^ (data[0] >> 4));
    }
    const std::string path = write_scratch("shard.txt", shard), out = write_scratch("merged.txt", "");
    write_shard_record(path, record);
    MergeRun run;
    run.manifest = begin_manifest("morv-merge", 0, nullptr);
    run.pieceBytes = 0;  // the least: one BGZF block, so that reads end inside lines
    try {
        merge_shards(out, {path}, run);
        require(contents(out) == shard, "one shard merges to itself");
    } catch (const ProgramError&) {
        // Refused: the program would have printed the message.
    }
    return 0;
}
