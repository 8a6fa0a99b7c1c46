// morv-merge against one full run: shards cut from its result file (with
// their records; BGZF as morv --bgzip writes it) must merge back to it, in
// any order, and every refusal must say why and leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <sstream>

#include "files/program_error.hpp"
#include "merge/merge.hpp"
#include "results/bgzf_blocks.hpp"
#include "results/shard_record.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

enum class Damage {
    none, noRecord, noFile, recordSaysPlain, cutMidLine, lastLineLost, noEofBlock,
    flippedByte, badCrc, droppedBlock, swappedBlocks,  // inside a BGZF shard's body
    nextShardsLines,                                   // the lines of the SNPs after the record's range
};

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
    const unsigned shift = s.damage == Damage::nextShardsLines ? s.last - s.first + 1 : 0;
    std::string text;
    int n = 0;
    for (const std::string& line : lines_of(runs().full[s.run])) {
        unsigned snp = 0, g1, g2, flag = 0;
        std::istringstream(line) >> snp >> g1 >> g2 >> flag;
        const bool header = n++ < 3, in = header || (snp >= s.first && snp <= s.last);
        r.pairs += !header && in;
        r.prunings += !header && in && flag != 1;
        const bool kept = !(s.omit && !header && flag == 0);
        r.lines += !header && in && kept;
        if (kept && (header || (snp >= s.first + shift && snp <= s.last + shift)))
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

// The blocks of a BGZF file, each as its bytes.
std::vector<std::string> blocks_of(const std::string& bgzf)
{
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at + 18 <= bgzf.size();) {
        const std::size_t size = (static_cast<unsigned char>(bgzf[at + 16]) | static_cast<unsigned char>(bgzf[at + 17]) << 8) + 1u;
        blocks.push_back(bgzf.substr(at, size));
        at += size;
    }
    return blocks;
}

// Damage inside the body of a BGZF file: its second and third blocks of lines.
std::string damaged_bgzf(const std::string& bgzf, Damage damage)
{
    if (damage != Damage::flippedByte && damage != Damage::badCrc && damage != Damage::droppedBlock &&
        damage != Damage::swappedBlocks)
        return bgzf;
    std::vector<std::string> b = blocks_of(bgzf);
    EXPECT_GE(b.size(), 5u);
    if (damage == Damage::flippedByte)
        b[2][b[2].size() / 2] ^= 0x10;
    else if (damage == Damage::badCrc)
        b[2][b[2].size() - 8] ^= 1;
    else if (damage == Damage::droppedBlock)
        b.erase(b.begin() + 2);
    else if (damage == Damage::swappedBlocks)
        std::swap(b[2], b[3]);
    std::string out;
    for (const std::string& block : b)
        out += block;
    return out;
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
        text = s.bgzip ? damaged_bgzf(bgzf_of(text), s.damage) : text;
        text.resize(text.size() - (s.damage == Damage::noEofBlock ? 28 : 0));
        r.bgzip = r.bgzip && s.damage != Damage::recordSaysPlain;
        const std::string name = "s" + std::to_string(paths.size()) + ".txt";
        paths.push_back(s.damage == Damage::noFile ? dir.file(name) : dir.write(name, text));
        if (s.damage != Damage::noRecord)
            write_shard_record(paths.back(), r);
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
           a.omitPruned == b.omitPruned && a.bgzip == b.bgzip && a.lines == b.lines;
}

// Small pieces, so that reads end inside lines and BGZF blocks.
constexpr std::size_t kPiece = 70001;

ShardRecord merge(const std::string& out, const std::vector<std::string>& shards, std::size_t piece = kPiece)
{
    MergeRun run;
    run.manifest = begin_manifest("morv-merge", 0, nullptr);
    run.pieceBytes = piece;
    return merge_shards(out, shards, run);
}

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
        const ShardRecord got = merge(out, write_shards(dir, c.shards));
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
    EXPECT_EQ(run(MORV_MERGE_BIN, {"m", "-h"}, "").out.rfind("usage: morv-merge -o OUT [--histogram HIST] SHARD...\n", 0), 0u);
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
         "s1.txt ends inside a result line in its BGZF block at byte *: was it cut short?"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::flippedByte}}, "s1.txt is damaged: its BGZF block at byte *"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::badCrc}},
         "s1.txt is damaged: its BGZF block at byte * fails its CRC check"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::droppedBlock}},
         "s1.txt holds * result lines but its record counts 14850 pairs: was it cut short or changed?"},
        {{{0, 2, true}, {3, 5, true, false, 0, Damage::swappedBlocks}},
         "s1.txt line *, out of order: was it damaged or put together by hand?"},
        {{{0, 2, false, false, 0, Damage::nextShardsLines}, {3, 5}},
         "s0.txt line 4: SNP 3 is outside the SNPs 0-2 of its record: is it another shard's file?"},
        {{{0, 2, false, true}, {3, 5, false, true, 0, Damage::lastLineLost}},
         "s1.txt holds 636 result lines but its record counts 637 lines: was it cut short or changed?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        const std::vector<std::string> shards = write_shards(dir, c.shards);
        try {
            merge(dir.file("m.txt"), shards);
            ADD_FAILURE() << "merged";
        } catch (const ProgramError& e) {
            std::string message = e.what();
            for (std::size_t at; (at = message.find(dir.path + "/")) != std::string::npos;)
                message.erase(at, dir.path.size() + 1);
            // "*" stands for figures that depend on the compressor.
            const std::size_t star = std::min(c.message.find('*'), c.message.size());
            const std::string head = c.message.substr(0, star), tail = c.message.substr(std::min(star + 1, c.message.size()));
            EXPECT_TRUE(message.rfind(head, 0) == 0 && message.size() >= head.size() + tail.size() &&
                        message.compare(message.size() - tail.size(), tail.size(), tail) == 0) << message;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            EXPECT_EQ(entry.path().filename().string().rfind("s", 0), 0u) << entry.path();
    }
}

// A shell command line (argv[2]) run in `dir`, so that messages show short names.
RunResult run_in(const std::string& dir, std::vector<std::string> argv)
{
    argv[2] = "cd '" + dir + "' && " + argv[2];
    return run("/bin/sh", argv, "");
}

// morv-merge run as a user would, on shards that morv --snps wrote with their
// manifests: shards of other inputs or runs, and outputs that must not be
// written over, are refused with a message and nothing changes.
TEST(Merge, ShardsOfOtherRunsAndUnsafePathsAreRefused)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "40 6 30 41");
    std::string other = read_file(in.expr);
    other[other.find('.') + 1] = other[other.find('.') + 1] == '1' ? '2' : '1';  // one value, same genes
    const Inputs changed{in.geno, dir.write("other.expr", other), in.allele};
    const auto shard = [&](const std::string& name, const Inputs& from, const char* snps, const char* threshold) {
        std::vector<std::string> argv = morv_argv(from, dir.file(name));
        argv.insert(argv.begin() + 1, {"--snps", snps});
        EXPECT_EQ(run(MORV_BIN, argv, threshold).status, 0);
        return name;
    };
    shard("s0", in, "0-2", "0.05\n");
    shard("s1", in, "3-5", "0.05\n");
    shard("x1", changed, "3-5", "0.05\n");
    shard("t1", in, "3-5", "0.01\n");
    shard("i1", in, "3-5", "0.05\n");
    const std::string manifest = read_file(dir.file("i1.manifest.json"));
    dir.write("i1.manifest.json", manifest.substr(0, manifest.find("\"complete\": true")) + "\"complete\": false" +
                                      manifest.substr(manifest.find("\"complete\": true") + 16));
    shard("c1", in, "3-5", "0.05\n");
    dir.write("c1.manifest.json", read_file(dir.file("s0.manifest.json")));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("elsewhere", dir.file("link").c_str()), 0);
    dir.write("f1.shard", read_file(dir.file("s1.shard")));
    ASSERT_EQ(mkfifo(dir.file("f1").c_str(), 0600), 0);
    const bool device = mknod(dir.file("device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;  // root only
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-o", "m", "s0", "x1"}, "x1 was made from another expression file than s0 ("},
        {{"-o", "m", "s0", "t1"}, "t1 was run with threshold 0.01 but s0 with 0.05: merge shards of one run"},
        {{"-o", "m", "s0", "i1"}, "i1.manifest.json says its run did not finish (\"complete\": false): was it interrupted?"},
        {{"-o", "m", "s0", "c1"}, "c1.manifest.json and the record c1.shard describe different runs"},
        {{"-o", "fifo", "s0", "s1"}, "-o fifo exists and is a FIFO, not a regular file"},
        {{"-o", "link", "s0", "s1"}, "-o link exists and is a symbolic link, not a regular file"},
        {{"-o", device ? "device" : "fifo", "s0", "s1"}, device ? "-o device exists and is a character device" : "-o fifo"},
        {{"-o", "s0.shard", "s0", "s1"}, "-o s0.shard would write over s0.shard, which belongs to the shard s0"},
        {{"-o", "m", "s0", "f1"}, "cannot read f1: it is a FIFO, not a file morv wrote"},
    };
    const std::string timeout = "exec timeout 20 \"$0\" \"$@\"";  // a hang fails, not blocks
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> argv = {"sh", "-c", timeout, MORV_MERGE_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunResult r = run_in(dir.path, argv);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("morv-merge: " + c.message, 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("m"))) << "merged";
    }
    EXPECT_EQ(read_file(dir.file("s0.shard")).rfind("morv-shard 2\n", 0), 0u);
    // A merge whose last write fails leaves the merged file from before whole,
    // with its record and manifest, and no temporary behind.
    ASSERT_EQ(run_in(dir.path, {"sh", "-c", timeout, MORV_MERGE_BIN, "-o", "m", "s1", "s0"}).status, 0);
    const std::string before[] = {read_file(dir.file("m")), read_file(dir.file("m.shard")),
                                  read_file(dir.file("m.manifest.json"))};
    const RunResult full = run_in(dir.path, {"sh", "-c", "trap '' XFSZ; ulimit -f 8; " + timeout, MORV_MERGE_BIN,
                                             "-o", "m", "s1", "s0"});
    EXPECT_EQ(full.err.rfind("morv-merge: cannot write m: File too large", 0), 0u) << full.err;
    EXPECT_TRUE(read_file(dir.file("m")) == before[0] && read_file(dir.file("m.shard")) == before[1] &&
                read_file(dir.file("m.manifest.json")) == before[2]);
    EXPECT_FALSE(std::filesystem::exists(dir.file(".m.merging")));
#if !defined(__SANITIZE_ADDRESS__)  // which ends the process on an allocation this large
    // A buffer that cannot be had leaves no temporary behind either.
    MergeRun huge;
    huge.pieceBytes = std::size_t(1) << 42;
    EXPECT_THROW(merge_shards(dir.file("h"), {dir.file("s0"), dir.file("s1")}, huge), std::bad_alloc);
    EXPECT_FALSE(std::filesystem::exists(dir.file(".h.merging")));
#endif
}

TEST(Merge, ShardRecordsAreReadExactly)
{
    TempDir dir;
    const std::string path = dir.file("r.txt");
    ShardRecord written{3, 5, 9, 2, true, false}, back;  // three SNPs of three genes' pairs
    written.lines = 8;
    std::string why;
    write_shard_record(path, written);
    const std::string good = read_file(shard_record_path(path));
    EXPECT_EQ(good, "morv-shard 2\nsnps 3-5\npairs 9\nprunings 2\nlines 8\nomit-pruned 1\nbgzip 0\n");
    EXPECT_TRUE(read_shard_record(path, back, why) && same(back, written)) << why;
    const std::pair<std::string, std::string> edits[] = {
        {"shard 2", "shard 3"}, {"s 3-", "s 03-"}, {"s 3-5", "s 9-3"}, {"pairs 9", "pairs  9"}, {"prunings 2", "prunings 10"},
        {"0\n", "0"}, {"0\n", "0\n\n"}, {"bgzip 0", "bgzip 2"}, {"shard 2\n", "shard 2\r\n"},
        {"pairs 9", "pairs 18446744073709551615"}, {"s 3-5", "s 8-4294967300"}, {"pairs 9", "pairs 12"},
        {"lines 8", "lines 10"}, {"lines 8", "lines 6"}, {"omit-pruned 1", "omit-pruned 0"}, {"lines 8\n", ""},
        {"pairs 9", "pairs x"},
    };
    for (const auto& [from, to] : edits) {
        std::string text = good;
        dir.write("r.txt.shard", text.replace(text.find(from), from.size(), to));
        EXPECT_FALSE(read_shard_record(path, back, why)) << text;
    }
    EXPECT_EQ(why, path + ".shard is not a shard record: line 3 is \"pairs x\", not \"pairs P\"");
    // The first version, without "lines", is still read.
    dir.write("r.txt.shard", "morv-shard 1\nsnps 3-5\npairs 9\nprunings 2\nomit-pruned 1\nbgzip 0\n");
    EXPECT_TRUE(read_shard_record(path, back, why) && !back.linesKnown && back.pairs == 9) << why;
    remove_shard_record(path);
    remove_shard_record(path);
    EXPECT_FALSE(read_shard_record(path, back, why));
    EXPECT_EQ(why, path + " has no shard record " + path + ".shard (was it written by a finished morv --snps run?)");
}

}  // namespace
