// morv-merge against one full run: shards cut from its result file (with
// their records; BGZF as morv --bgzip writes it) must merge back to it, in
// any order, and every refusal must say why and leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <sstream>

#include "driver/bgzf_blocks.hpp"
#include "driver/shard_record.hpp"
#include "merge/merge.hpp"
#include "merge/merge_error.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

enum class Damage { none, noRecord, noFile, recordSaysPlain, cutMidLine, lastLineLost, noEofBlock };

struct Shard {
    unsigned first, last;
    bool bgzip = false, omit = false;
    int run = 0;  // 0: threshold 0.05; 1: threshold 0, everything pruned (another header)
    Damage damage = Damage::none;
};

// 40 samples, 6 SNPs, 100 genes: 4950 pairs a SNP, shards of several BGZF blocks.
struct Runs {
    Runs()
    {
        const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "40 6 100 41");
        for (int k = 0; k < 2; ++k) {
            const RunResult done = run(MORV_BIN, morv_argv(in, dir.file("full.txt")), k ? "0\n" : "0.05\n");
            full[k] = read_file(dir.file("full.txt"));
            counts[k] = done.out.substr(done.out.find("#pairs"));
        }
    }
    TempDir dir;
    std::string full[2], counts[2];  // result file, morv's "#pairs" and "#prunings" lines
};

const Runs& runs()
{
    static const Runs r;
    return r;
}

// The result file of SNPs first..last (without the flag 0 lines when
// omitting) and its record, counting as morv does.
std::string slice(const Shard& s, ShardRecord& r)
{
    r = {s.first, s.last, 0, 0, s.omit, s.bgzip};
    std::string text;
    int n = 0;
    for (const std::string& line : lines_of(runs().full[s.run])) {
        unsigned snp = 0, g1, g2, flag = 0;
        std::istringstream(line) >> snp >> g1 >> g2 >> flag;
        const bool header = n++ < 3, in = header || (snp >= s.first && snp <= s.last);
        r.pairs += !header && in;
        r.prunings += !header && in && flag != 1;
        if (in && !(s.omit && !header && flag == 0))
            text += line + "\n";
    }
    return text;
}

std::string bgzf_of(const std::string& text)
{
    const std::size_t header = text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1;
    const std::size_t lines = text.size() - header, fullBlock = BGZF_BLOCK_SIZE - 1024;  // a line is shorter
    TextBuffer out;
    EXPECT_EQ(bgzf_compress_lines(text.data(), header, -1, out), 1u);
    EXPECT_LE(bgzf_compress_lines(text.data() + header, lines, -1, out), (lines + fullBlock - 1) / fullBlock);
    out.insert(out.end(), bgzf_eof_block().begin(), bgzf_eof_block().end());
    return std::string(out.begin(), out.end());
}

std::vector<std::string> write_shards(const TempDir& dir, const std::vector<Shard>& shards)
{
    std::vector<std::string> paths;
    for (const Shard& s : shards) {
        ShardRecord r;
        std::string text = slice(s, r);
        const std::size_t lastLine = text.rfind('\n', text.size() - 2) + 1;
        text.resize(s.damage == Damage::cutMidLine ? text.size() - 1
                    : s.damage == Damage::lastLineLost ? lastLine : text.size());
        text = s.bgzip ? bgzf_of(text) : text;
        text.resize(text.size() - (s.damage == Damage::noEofBlock ? 28 : 0));
        r.bgzip = r.bgzip && s.damage != Damage::recordSaysPlain;
        const std::string name = "s" + std::to_string(paths.size()) + ".txt";
        paths.push_back(s.damage == Damage::noFile ? dir.file(name) : dir.write(name, text));
        const bool recorded = s.damage == Damage::noRecord || write_shard_record(paths.back(), r);
        EXPECT_TRUE(recorded);
    }
    return paths;
}

// The text of a file laid out as morv --bgzip writes it (the header block,
// blocks of whole lines, one EOF block at the end); "" for anything else.
std::string bgzf_text(const std::string& path)
{
    const std::string raw = read_file(path), eof(bgzf_eof_block().begin(), bgzf_eof_block().end());
    BGZF* fp = bgzf_open(path.c_str(), "r");
    bool laidOut = fp && bgzf_compression(fp) == bgzf && bgzf_check_EOF(fp) == 1 && raw.find(eof) == raw.size() - 28;
    std::string text;
    for (int k = 0; laidOut && bgzf_read_block(fp) == 0 && fp->block_length > 0; ++k) {
        const std::string block(static_cast<const char*>(fp->uncompressed_block), fp->block_length);
        laidOut = block.back() == '\n' && (k > 0 || std::count(block.begin(), block.end(), '\n') == 3);
        text += block;
    }
    if (fp)
        bgzf_close(fp);
    return laidOut ? text : "";
}

bool same(const ShardRecord& a, const ShardRecord& b)
{
    return a.first == b.first && a.last == b.last && a.pairs == b.pairs && a.prunings == b.prunings &&
           a.omitPruned == b.omitPruned && a.bgzip == b.bgzip;
}

// Small pieces, so that reads end inside lines and BGZF blocks.
constexpr std::size_t kPiece = 70001;

TEST(Merge, ShardsMergeBackToTheirRun)
{
    const struct {
        std::vector<Shard> shards;
        Shard whole;
    } cases[] = {
        {{{0, 1}, {2, 4}, {5, 5}}, {0, 5}},
        {{{5, 5, true}, {0, 1, true}, {2, 4, true}}, {0, 5, true}},
        {{{3, 5}, {1, 2}}, {1, 5}},
        {{{4, 4, true}, {1, 1, true}, {3, 3, true}, {2, 2, true}}, {1, 4, true}},
        {{{3, 5, false, true}, {0, 2, false, true}}, {0, 5, false, true}},
        {{{3, 5, true, true}, {0, 2, true, true}}, {0, 5, true, true}},
        {{{0, 4, false, true, 1}, {5, 5, false, true, 1}}, {0, 5, false, true, 1}},  // header only
        {{{0, 0, true, true, 1}, {1, 5, true, true, 1}}, {0, 5, true, true, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        TempDir dir;
        ShardRecord expected, record;
        const std::string text = slice(c.whole, expected), out = dir.file("m.txt");
        const ShardRecord got = merge_shards(out, write_shards(dir, c.shards), kPiece);
        const std::string merged = c.whole.bgzip ? bgzf_text(out) : read_file(out);
        EXPECT_TRUE(merged == text) << merged.size() << " bytes against " << text.size();
        std::string why;
        ASSERT_TRUE(read_shard_record(out, record, why)) << why;
        EXPECT_TRUE(same(got, expected) && same(record, expected));
    }
}

// The program as a user sees it: the counts of morv's run, and a merged
// file that merges again.
TEST(Merge, MergedFilesMergeAgain)
{
    for (const bool bgzip : {false, true}) {
        TempDir dir;
        const auto shards = write_shards(dir, {{0, 1, bgzip}, {2, 3, bgzip}, {4, 5, bgzip}});
        const RunResult first = run(MORV_MERGE_BIN, {"m", "-o", dir.file("m.txt"), shards[2], shards[1]}, "");
        const RunResult again = run(MORV_MERGE_BIN, {"m", shards[0], "-o", dir.file("a.txt"), dir.file("m.txt")}, "");
        EXPECT_EQ(first.status + again.status, 0) << first.err << again.err;
        EXPECT_EQ(again.out, runs().counts[0]);
        const std::string merged = bgzip ? bgzf_text(dir.file("a.txt")) : read_file(dir.file("a.txt"));
        EXPECT_TRUE(merged == runs().full[0]) << merged.size() << " bytes against " << runs().full[0].size();
    }
    EXPECT_EQ(run(MORV_MERGE_BIN, {"m", "-h"}, "").out, "usage: morv-merge -o OUT SHARD...\n");
    TempDir dir;
    const auto shards = write_shards(dir, {{0, 1}, {2, 5}});
    const std::string shard = read_file(shards[0]);
    const RunResult refused = run(MORV_MERGE_BIN, {"m", "-o", shards[0], shards[1], shards[0]}, "");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "morv-merge: -o " + shards[0] + " is one of the shards: merge into a new file\n");
    EXPECT_TRUE(read_file(shards[0]) == shard);
}

TEST(Merge, RefusalsSayWhyAndLeaveNoOutput)
{
    const struct {
        std::vector<Shard> shards;
        std::string message;
    } cases[] = {
        {{{0, 1}, {3, 5}}, "SNP 2 is in no shard: s0.txt ends at SNP 1, s1.txt begins at SNP 3"},
        {{{4, 5}, {0, 0}}, "SNPs 1-3 are in no shard: s1.txt ends at SNP 0, s0.txt begins at SNP 4"},
        {{{2, 5}, {0, 2}}, "s1.txt (SNPs 0-2) and s0.txt (SNPs 2-5) both hold SNP 2"},
        {{{0, 5}, {2, 3}}, "s0.txt (SNPs 0-5) and s1.txt (SNPs 2-3) both hold SNPs 2-3"},
        {{{0, 2}, {3, 5, false, false, 1}},
         "the header of s1.txt differs from that of s0.txt (line 2: \"threshold = 0.000000\" against \"threshold = "
         "0.050000\"): were they run on the same inputs and threshold?"},
        {{{0, 2}, {3, 5, false, false, 0, Damage::noRecord}},
         "s1.txt has no shard record s1.txt.shard (was it written by a finished morv --snps run?)"},
        {{{0, 2}, {3, 5, false, false, 0, Damage::noFile}}, "cannot read s1.txt: No such file or directory"},
        {{{0, 2}, {3, 5, true}}, "s0.txt is plain (bgzip 0) but s1.txt is BGZF (bgzip 1): merge shards written alike"},
        {{{0, 2, false, true}, {3, 5}},
         "s0.txt omits pruned pairs (omit-pruned 1) but s1.txt keeps pruned pairs (omit-pruned 0): merge shards "
         "written alike"},
        {{{0, 2}, {3, 5, true, false, 0, Damage::recordSaysPlain}},
         "s1.txt is BGZF-compressed but its record s1.txt.shard says bgzip 0"},
        {{{0, 2}, {3, 5, false, false, 0, Damage::cutMidLine}}, "s1.txt ends inside a result line: was it cut short?"},
        {{{3, 5, false, false, 0, Damage::lastLineLost}, {0, 2}},
         "s0.txt holds 14849 result lines but its record counts 14850 pairs: was it cut short or changed?"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::noEofBlock}},
         "s1.txt lacks the BGZF end-of-file block: was it cut short?"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::cutMidLine}},
         "s1.txt ends inside a result line (its last BGZF block): was it cut short?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        const std::vector<std::string> shards = write_shards(dir, c.shards);
        try {
            merge_shards(dir.file("m.txt"), shards, kPiece);
            ADD_FAILURE() << "merged";
        } catch (const MergeError& e) {
            std::string message = e.what();
            for (std::size_t at; (at = message.find(dir.path + "/")) != std::string::npos;)
                message.erase(at, dir.path.size() + 1);
            EXPECT_EQ(message, c.message);
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            EXPECT_EQ(entry.path().filename().string().rfind("s", 0), 0u) << entry.path();
    }
}

TEST(Merge, ShardRecordsAreReadExactly)
{
    TempDir dir;
    const std::string path = dir.file("r.txt");
    const ShardRecord written{3, 18446744073709551615u, 7, 2, true, false};
    ShardRecord back;
    std::string why;
    ASSERT_TRUE(write_shard_record(path, written));
    const std::string good = read_file(shard_record_path(path));
    EXPECT_EQ(good, "morv-shard 1\nsnps 3-18446744073709551615\npairs 7\nprunings 2\nomit-pruned 1\nbgzip 0\n");
    EXPECT_TRUE(read_shard_record(path, back, why) && same(back, written)) << why;
    const std::pair<std::string, std::string> edits[] = {
        {"shard 1", "shard 2"}, {"s 3-", "s 03-"}, {"615", "616"}, {"s 3-18446744073709551615", "s 9-3"},
        {"pairs 7", "pairs  7"}, {"prunings 2", "prunings 8"}, {"0\n", "0"}, {"0\n", "0\n\n"},
        {"bgzip 0", "bgzip 2"}, {"shard 1\n", "shard 1\r\n"}, {"pairs 7", "pairs x"},
    };
    for (const auto& [from, to] : edits) {
        std::string text = good;
        dir.write("r.txt.shard", text.replace(text.find(from), from.size(), to));
        EXPECT_FALSE(read_shard_record(path, back, why)) << text;
    }
    EXPECT_EQ(why, path + ".shard is not a shard record: line 3 is \"pairs x\", not \"pairs P\"");
    remove_shard_record(path);
    remove_shard_record(path);
    EXPECT_FALSE(read_shard_record(path, back, why));
    EXPECT_EQ(why, path + " has no shard record " + path + ".shard (was it written by a finished morv --snps run?)");
}

}  // namespace
