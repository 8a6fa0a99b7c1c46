// morv-prepare seen from outside: the files it writes from a small VCF with
// every kind of record to skip, morv's results on them against morv's on the
// same data written by hand, and each way a run is refused, damaged inputs
// included, with the old outputs left as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <htslib/bgzf.h>
#include <htslib/vcf.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <zlib.h>

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/manifest.hpp"
#include "prepare/writer.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

const std::string kHead = "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"GT\">\n"
                          "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
// X7 is in no expression file: its missing call does not count.
const std::string kVcf = kHead + "\tS1\tS2\tS3\tS4\tS5\tS6\tX7\n"
    "1\t100\trs1\tA\tC\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0|0\t1|0\t1/1\t./.\n"
    "1\t200\t.\tG\tT\t.\t.\t.\tGT\t0/1\t0/0\t1/1\t1/1\t0/0\t0|1\t0/0\n"
    "1\t300\trs3\tA\tC,G\t.\t.\t.\tGT\t0/1\t0/2\t1/1\t0/0\t0/0\t0/0\t0/0\n"
    "1\t400\trs4\tAT\tA\t.\t.\t.\tGT\t0/1\t0/0\t1/1\t0/0\t0/0\t0/0\t0/0\n"
    "1\t500\trs5\tC\tT\t.\t.\t.\tGT\t0/1\t./.\t1/1\t0/0\t0/0\t0/0\t0/0\n"
    "1\t600\trs6\tC\tT\t.\t.\t.\tGT\t0/1\t0/0\t1\t0/0\t0/0\t0/0\t0/0\n"
    "2\t700\trs7\tG\tA\t.\t.\t.\tGT\t0/0\t0/0\t0/1\t0/1\t1/1\t1/1\t0/0\n";
// Columns in another order, named by the map; Z9 is in no VCF.
const std::string kMatrix = "gene\tE3\tE1\tE2\tE5\tE4\tE6\tZ9\n"
                            "g1\t3\t1\t2\t5\t4\t6\t9\n" "g2\t3\tNA\t2\t5\t4\t6\t9\n" "g3\t3\t1\t0\t5\t4\t6\t9\n"
                            "g4\t3\t1\tabc\t5\t4\t6\t9\n" "g5\t2.5\t0.5\t1.5\t8\t3\t7\t0\n" "g6\t30\t10\t20\t50\t40\t1e-3\t9\n";
const std::string kMap = "S1 E1\nS2 E2\nS3 E3\nS4 E4\nS5 E5\nS6 E6\n";
const std::string kBed = "#chr\tstart\tend\tid\tgid\tstrd\tS3\tS1\tS2\tS5\tS4\tS6\n"
                         "1\t10\t20\tb1\tb1\t+\t3\t0\t2\t5\t4\t-1\n" "1\t30\t40\tb2\tb2\t-\tinf\t1\t2\t5\t4\t6\n";

std::string read_in(const TempDir& dir, const char* name) { return read_file(dir.file("out/") + name); }

TEST(Prepare, WritesTheInputsAndTables)
{
    const TempDir dir;
    const std::vector<std::string> args = {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", kVcf), "--expression",
                                           dir.write("e.tsv", kMatrix), "--sample-map", dir.write("map", kMap),
                                           "--out", dir.file("out")};
    const RunResult r = run(MORV_PREPARE_BIN, args, "");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"samples matched: 6\n", "dropped from the VCF: 1\n", "dropped from the expression file: 1\n",
                             "SNPs kept: 3\n", "multi-allelic: 1\n", "not a SNV: 1\n", "missing call: 1\n",
                             "not diploid: 1\n", "genes kept: 3\n", "missing value: 1\n", "non-numeric value: 1\n",
                             "zero or negative value: 1\n", "class under three samples: 3\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
    const std::string geno = "A\tA\tG\tT\tG\tG\t\nA\tC\tG\tG\tG\tG\t\nC\tC\tT\tT\tG\tA\t\n"
                             "A\tA\tT\tT\tG\tA\t\nA\tC\tG\tG\tA\tA\t\nC\tC\tG\tT\tA\tA\t\n";
    const std::string expr = "1\t2\t3\t4\t5\t6\n0.5\t1.5\t2.5\t3\t8\t7\n10\t20\t30\t40\t50\t1e-3\n";
    EXPECT_EQ(read_in(dir, "genotype.txt"), geno);
    EXPECT_EQ(read_in(dir, "expression.txt"), expr);
    EXPECT_EQ(read_in(dir, "allele.txt"), "A\nG\nG\n");
    EXPECT_EQ(read_in(dir, "snps.tsv"), "index\tid\tchrom\tpos\tref\talt\n0\trs1\t1\t100\tA\tC\n"
                                        "1\t1:200:G:T\t1\t200\tG\tT\n2\trs7\t2\t700\tG\tA\n");
    EXPECT_EQ(read_in(dir, "genes.tsv"), "index\tid\tchrom\tstart\tend\n0\tg1\t.\t.\t.\n1\tg5\t.\t.\t.\n2\tg6\t.\t.\t.\n");
    EXPECT_EQ(read_in(dir, "samples.tsv"), "index\tgenotype_id\texpression_id\n0\tS1\tE1\n1\tS2\tE2\n2\tS3\tE3\n"
                                           "3\tS4\tE4\n4\tS5\tE5\n5\tS6\tE6\n");
    // The same data by hand, other separators and spellings of the numbers.
    const std::string out = dir.file("out/"), by_hand = dir.file("hand.txt"), converted = dir.file("converted.txt");
    const Inputs hand = write_inputs(dir, "A A G T G G\nA C G G G G\nC C T T G A\nA A T T G A\nA C G G A A\nC C G T A A\n",
                                     "1 2 3 4 5 6\n0.50 1.5 2.5 3.0 8 7\n10 20 30 40 50 0.001\n", "A\nG\nG\n");
    ASSERT_EQ(run(MORV_BIN, morv_argv(hand, by_hand), "0.5\n").status, 0);
    const Inputs ours{out + "genotype.txt", out + "expression.txt", out + "allele.txt"};
    ASSERT_EQ(run(MORV_BIN, morv_argv(ours, converted), "0.5\n").status, 0);
    EXPECT_EQ(lines_of(read_file(converted)).size(), 3u + 3 * 3);
    EXPECT_EQ(read_file(converted), read_file(by_hand));
    // The manifest describes the very files beside it.
    const Manifest m = Manifest::parse(read_in(dir, "manifest.json"));
    EXPECT_EQ(m["command"], Manifest(args));
    EXPECT_EQ(m["inputs"]["vcf"]["checksum"], file_facts(args[4]).checksum);
    EXPECT_EQ(m["inputs"]["sample_map"]["path"], args[8]);
    EXPECT_FALSE(m["inputs"].contains("genes"));
    for (const std::string name : {"genotype.txt", "expression.txt", "allele.txt", "snps.tsv", "genes.tsv", "samples.tsv"}) {
        const FileFacts f = file_facts(out + name);
        EXPECT_EQ(m["outputs"][name], Manifest({{"path", f.path}, {"size", f.size}, {"checksum", f.checksum}}));
    }
    EXPECT_EQ(m["settings"].dump(), R"({"region":null,"min_class":0,"maf":null,"scale":null,"transform":"log","pseudocount":null})");
    EXPECT_EQ(m["counts"].dump(), R"({"samples":6,"snps":3,"genes":3,"near_duplicate_gene_pairs":0})");
}

// BED layout with six annotation columns, values as log2, a region, a gene list.
TEST(Prepare, ReadsBedLogValuesInARegion)
{
    const TempDir dir;
    const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", kVcf), "--expression",
                            dir.write("e.bed", kBed), "--scale", "log2", "--region", "1:150-700", "--genes",
                            dir.write("genes", "b1\nb2\n"), "--out", dir.file("out")}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("outside the region: 2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("value out of range: 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_in(dir, "expression.txt"), "1\t4\t8\t16\t32\t0.5\n");
    EXPECT_EQ(read_in(dir, "genes.tsv"), "index\tid\tchrom\tstart\tend\n0\tb1\t1\t10\t20\n");
    EXPECT_EQ(read_in(dir, "allele.txt"), "G\n");
    EXPECT_EQ(Manifest::parse(read_in(dir, "manifest.json"))["settings"].dump(),
              R"({"region":"1:150-700","min_class":0,"maf":null,"scale":"log2","transform":"log","pseudocount":null})");
}

// The BED layouts by their header, names in any case, or by --bed-columns.
TEST(Prepare, ReadsTheBedLayouts)
{
    const struct { std::string annotation, bed_columns; } cases[] = {
        {"#chr\tstart\tend\tid", ""}, {"#Chr\tstart\tend\tpid\tgid\tstrand", ""},
        {"#CHROM\tstart\tend\tname\tscore\tStrand", ""}, {"#chr\tstart\tend\tid\tlength\tSTRD", ""},
        {"#chr\tstart\tend\tid\tgid\tdir", "6"}, {"chr\tstart\tend\tid", "4"},
        {"#chr\tstart\tend\tid\tgid\tstrand", "4"},  // said outright: gid and strand are samples, unmatched
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.annotation);
        const TempDir dir;
        const std::string fields[] = {"1", "10", "20", "b1", "x", "+"};
        std::string row;
        for (long k = 0; k <= std::count(c.annotation.begin(), c.annotation.end(), '\t'); ++k)
            row += fields[k] + "\t";
        std::vector<std::string> args = {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", kVcf), "--expression",
                                         dir.write("e.bed", c.annotation + "\tS1\tS2\tS3\tS4\tS5\tS6\n" + row +
                                                                "1\t2\t3\t4\t5\t6\n"), "--out", dir.file("out")};
        if (!c.bed_columns.empty())
            args.insert(args.end(), {"--bed-columns", c.bed_columns});
        const RunResult r = run(MORV_PREPARE_BIN, args, "");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_in(dir, "genes.tsv"), "index\tid\tchrom\tstart\tend\n0\tb1\t1\t10\t20\n");
        EXPECT_EQ(read_in(dir, "expression.txt"), "1\t2\t3\t4\t5\t6\n");
    }
}

// A region meeting no record names the contigs the records are on; a bare contig is the whole of it.
TEST(Prepare, RegionsByContig)
{
    const TempDir dir;
    std::string vcf = kHead + "\tS1\tS2\tS3\tS4\tS5\tS6\n";
    for (const char* contig : {"1", "2", "3", "4", "5", "6"})
        vcf += std::string(contig) + "\t100\t.\tA\tC\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0/0\t0/1\t1/1\n";
    const std::string path = dir.write("s.vcf", vcf), on = "; --region names contig ";
    const struct { std::string region, err; } cases[] = {
        {"6", ""},
        {"chr6:1-1000", on + "chr6, its records are on 1, 2, 3, 4, 5, ... (did you mean --region 6:1-1000?)"},
        {"Chr1", on + "Chr1, its records are on 1, 2, 3, 4, 5, ... (did you mean --region 1?)"},
        {"6:1-10", on + "6, its records are on 1, 2, 3, 4, 5, ..."},
    };
    for (const auto& c : cases) {
        const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--min-class", "0", "--vcf", path, "--expression", dir.write("e", kMatrix),
                                "--sample-map", dir.write("map", kMap), "--region", c.region, "--out", dir.file("out")}, "");
        EXPECT_EQ(r.err, c.err.empty() ? "" : "Error: no SNP of " + path + " passed the filters" + c.err + "\n");
        EXPECT_EQ(r.out.find("SNPs kept: 1\n") != std::string::npos && r.out.find("region: 5\n") != std::string::npos,
                  c.err.empty()) << r.out;
    }
}

TEST(Prepare, RefusesWithOneLine)
{
    const struct {
        std::string vcf, expression, option, message;
    } cases[] = {
        {"", kMatrix, "", "cannot open the VCF file"},
        {"not a vcf\n", kMatrix, "", "VCF"},
        {"##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n", kMatrix, "", "has no samples"},
        {"##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS1\n", kMatrix, "", "no GT"},
        {kHead + "\tS1\tS1\n", kMatrix, "", "names sample S1 twice"},
        {kVcf, "gene\tS1\tS2\ng1\t1\n", "", "line 2 has 2 fields"},
        {kVcf, "gene\tS1\tS1\ng1\t1\t2\n", "", "names sample S1 twice"},
        {kVcf, "gene\tA\tB\tC\tD\ng1\t1\t2\t3\t4\n", "", "the VCF has S1, S2, S3, ...; the expression file has A, B, C, ..."},
        {kVcf, "#chr\tstart\tend\tid\tscore\tS1\n1\t1\t2\tg\t0\t1\n", "", "column 5 of its header, \"score\", names an"},
        {kVcf, "gene\tStrand\tS1\ng1\t1\t2\n", "", "column 2 of its header, \"Strand\", names an annotation"},
        {kVcf, kMatrix, "--bed-columns", "--bed-columns wants 4 or 6, not \"0.9\""},
        {kVcf, kMatrix, "--maf", "--maf wants a number"},
        {kVcf, kMatrix, "--out", "cannot create the output folder"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const std::string vcf = c.vcf.empty() ? dir.file("none.vcf") : dir.write("s.vcf", c.vcf);
        std::vector<std::string> args = {"morv-prepare", "--min-class", "0", "--vcf", vcf, "--expression", dir.write("e.tsv", c.expression),
                                         "--sample-map", dir.write("map", kMap), "--out", dir.file("out")};
        if (c.option == "--out")
            args.back() = dir.write("file", "") + "/out";
        else if (!c.option.empty())
            args.insert(args.end(), {c.option, "0.9"});
        const RunResult r = run(MORV_PREPARE_BIN, args, "");
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(std::ifstream(dir.file("out/genotype.txt")).good()) << c.message;
    }
}

// Damaged files are made from good ones the way they come about: gzip and
// BGZF (a block ends after each piece) by zlib and htslib, then cut,
// flipped or appended to.
std::string gzip_file(const std::string& path, const std::string& text)
{
    gzFile file = gzopen(path.c_str(), "wb");
    EXPECT_EQ(gzwrite(file, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
    gzclose(file);
    return path;
}

std::string bgzf_file(const std::string& path, const std::vector<std::string>& pieces)
{
    BGZF* file = bgzf_open(path.c_str(), "w");
    for (const std::string& piece : pieces)
        EXPECT_TRUE(bgzf_write(file, piece.data(), piece.size()) >= 0 && bgzf_flush(file) == 0);
    bgzf_close(file);
    return path;
}

std::string bcf_file(const std::string& path, const std::string& vcf, const char* mode = "wb")
{
    htsFile *in = hts_open(vcf.c_str(), "r"), *out = hts_open(path.c_str(), mode);
    bcf_hdr_t* header = bcf_hdr_read(in);
    bcf1_t* record = bcf_init();
    EXPECT_EQ(bcf_hdr_write(out, header), 0);
    while (bcf_read(in, header, record) == 0)
        EXPECT_EQ(bcf_write(out, header, record), 0);
    bcf_destroy(record);
    bcf_hdr_destroy(header);
    hts_close(out);
    hts_close(in);
    return path;
}

std::string changed(const std::string& path, void (*change)(std::string&))
{
    std::string bytes = read_file(path);
    change(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

void cut_to_90_percent(std::string& b) { b.resize(b.size() * 9 / 10); }
void drop_end_block(std::string& b) { b.resize(b.size() - 28); }  // cut at a block boundary
void flip_middle_byte(std::string& b) { b[b.size() / 2] ^= 0x10; }
void flip_early_byte(std::string& b) { b[20] ^= 0x10; }
void flip_last_block(std::string& b) { b[b.size() - 38] ^= 0x10; }  // before its CRC and the end-of-file block
void append_garbage(std::string& b) { b += "garbage\n"; }

// Records enough for htslib to read a gzip stream in several pieces.
std::string long_vcf(int from, int to, bool head = false)
{
    std::string text = head ? kHead + "\tS1\tS2\tS3\tS4\tS5\tS6\n" : "";
    for (int i = from; i < to; ++i) {
        text += "1\t" + std::to_string(i * 7) + "\t.\tA\tG\t.\t.\t.\tGT";
        for (int s = 0; s < 6; ++s)
            text += (i * 31 + s * 17) % 7 < 3 ? "\t0/1" : (i + s) % 3 ? "\t0/0" : "\t1/1";
        text += "\n";
    }
    return text;
}

// Name and content of each entry of a folder.
std::map<std::string, std::string> snapshot(const std::string& dir)
{
    std::map<std::string, std::string> entries;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        entries[e.path().filename()] = e.symlink_status().type() == std::filesystem::file_type::regular
                                           ? read_file(e.path())
                                           : "not a regular file";
    return entries;
}

TEST(Prepare, RefusesDamagedInputsAndKeepsTheOldOutputs)
{
    const std::string head = long_vcf(0, 0, true), part1 = long_vcf(1, 2500), part2 = long_vcf(2500, 5000);
    const auto in_kvcf = [](const std::string& from, const std::string& to) {
        return [=](const TempDir& d) { return d.write("s.vcf", kVcf.substr(0, kVcf.find(from)) + to +
                                                               kVcf.substr(kVcf.find(from) + from.size())); };
    };
    const struct {
        char input;  // the damaged one: 'v' VCF, 'e' expression, 'o' output
        std::function<std::string(const TempDir&)> make;  // returns its path
        std::string message;
    } cases[] = {
        {'e', [](auto& d) { return changed(gzip_file(d.file("e.gz"), kMatrix), cut_to_90_percent); }, "is cut short"},
        {'e', [](auto& d) { return changed(gzip_file(d.file("e.gz"), kMatrix), append_garbage); }, "not gzip after"},
        {'e', [](auto& d) { return changed(gzip_file(d.file("e.gz"), kMatrix), flip_middle_byte); }, "is damaged"},
        {'e', [](auto& d) { return changed(bgzf_file(d.file("e.gz"), {kMatrix}), drop_end_block); },
         "does not end with the BGZF end-of-file block"},
        {'v', [&](auto& d) { return changed(bgzf_file(d.file("v.gz"), {head, part1, part2}), cut_to_90_percent); },
         "does not end with the BGZF end-of-file block: it looks cut short"},
        {'v', [&](auto& d) { return changed(bgzf_file(d.file("v.gz"), {head, part1}), drop_end_block); },
         "does not end with the BGZF end-of-file block"},
        {'v', [&](auto& d) { return changed(bgzf_file(d.file("v.gz"), {head, part1, part2}), flip_middle_byte); },
         "is damaged or cut short: reading stopped at record"},
        {'v', [&](auto& d) {  // htslib hands over "1\t" as a line, then the end of the file
             return changed(bgzf_file(d.file("v.gz"), {head + "1\t", part1.substr(2, 300)}), flip_last_block);
         }, "is damaged or cut short: reading stopped at record 1"},
        {'v', [&](auto& d) { return changed(gzip_file(d.file("v.gz"), head + part1 + part2), cut_to_90_percent); },
         "is damaged or cut short: reading stopped at record"},
        {'v', [&](auto& d) { return changed(gzip_file(d.file("v.gz"), head + part1 + part2), append_garbage); },
         "is damaged or cut short: reading stopped at record"},
        {'v', [&](auto& d) { return changed(gzip_file(d.file("v.gz"), head + part1 + part2), flip_middle_byte); },
         "is damaged or cut short: reading stopped at record"},
        {'v', [](auto& d) { return changed(gzip_file(d.file("v.gz"), kVcf), flip_middle_byte); }, "damaged or cut short in"},
        {'v', [](auto& d) { return changed(gzip_file(d.file("v.gz"), kVcf), flip_early_byte); }, "is damaged: invalid"},
        {'v', [&](auto& d) { return changed(bcf_file(d.file("b"), d.write("v", head + part1)), cut_to_90_percent); },
         "does not end with the BGZF end-of-file block"},
        {'v', [&](auto& d) { return changed(bcf_file(d.file("b"), d.write("v", head + part1), "wbu"), cut_to_90_percent); },
         "is damaged or cut short: reading stopped at record"},
        {'v', in_kvcf("0|1\t0/0\n", "0|1\t0/0\t0/0\n"), "record 2 (1:200) has 8 sample columns, the header names 7"},
        {'v', in_kvcf("GT\t0/1\t0/0\t1/1", "GT\t0/1\t2/2\t1/1"), "record 2 (1:200): sample S2 is called with allele 2"},
        {'v', in_kvcf("GT\t0/1\t0/0\t1/1", "GT\t0/1\t0/99999\t1/1"), "S2 is called with allele 99999"},
        {'o', [](auto& d) {
             std::filesystem::remove(d.file("out/genotype.txt"));
             EXPECT_EQ(::mkfifo(d.file("out/genotype.txt").c_str(), 0600), 0);
             return d.file("out/genotype.txt");
         }, "exists and is a FIFO, not a regular file"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        std::filesystem::create_directory(dir.file("out"));
        for (const std::string& name : kOutputNames)
            dir.write("out/" + name, "old " + name);
        const std::string damaged = c.make(dir);
        const auto before = snapshot(dir.file("out"));
        const std::string vcf = c.input == 'v' ? damaged : dir.write("s.vcf", kVcf),
                          expression = c.input == 'e' ? damaged : dir.write("e.tsv", kMatrix);
        const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--min-class", "0", "--vcf", vcf, "--expression", expression,
                                                   "--sample-map", dir.write("map", kMap), "--out", dir.file("out")},
                                "");
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(damaged), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(snapshot(dir.file("out")), before) << c.message;
    }
}

// Good compressed files are read as the plain one.
TEST(Prepare, ReadsEveryCompressionAlike)
{
    const TempDir dir;
    const std::string vcf = long_vcf(1, 3000, true), plain = dir.write("s.vcf", vcf);
    std::set<std::string> genotypes;
    for (const std::string& path : {plain, gzip_file(dir.file("g.vcf.gz"), vcf), bgzf_file(dir.file("b.vcf.gz"), {vcf}),
                                    bcf_file(dir.file("s.bcf"), plain)}) {
        const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--min-class", "0", "--vcf", path, "--expression",
                                                   gzip_file(dir.file("e.gz"), kMatrix), "--sample-map",
                                                   dir.write("map", kMap), "--out", dir.file("out")}, "");
        ASSERT_EQ(r.status, 0) << path << ": " << r.err;
        genotypes.insert(read_in(dir, "genotype.txt"));
    }
    EXPECT_EQ(genotypes.size(), 1u);
}

// A rename failing part-way leaves the old set whole; none failing, the new one.
TEST(Prepare, ReplacesTheOutputsAllOrNone)
{
    const TempDir dir;
    std::vector<Replacement> files;
    for (const std::string& name : kOutputNames) {
        if (name != "manifest.json")  // as from a version that wrote none
            dir.write(name, "old " + name);
        files.push_back({dir.file("." + name + ".new"), dir.file(name)});
    }
    const auto old = snapshot(dir.path);
    const auto write_new = [&] {
        for (const Replacement& f : files)
            std::ofstream(f.temporary) << "new " << f.final;
    };
    write_new();
    int calls = 0;
    EXPECT_THROW(replace_together(files, [&](const char* from, const char* to) {
                     return ++calls == 4 ? (errno = EIO, -1) : std::rename(from, to);
                 }),
                 FileError);
    for (const Replacement& f : files)
        std::remove(f.temporary.c_str());
    EXPECT_EQ(snapshot(dir.path), old);
    write_new();
    replace_together(files);
    ASSERT_EQ(snapshot(dir.path).size(), files.size());
    for (const Replacement& f : files)
        EXPECT_EQ(read_file(f.final), "new " + f.final);
}

// morv-annotate names a run's indices only by the folder whose files the run
// read: another prepared folder is refused; a run or folder without a
// manifest is read with a warning.
TEST(Prepare, AnnotateChecksTheFolderAgainstTheRun)
{
    const TempDir dir;
    const auto prepare = [&](const std::string& out, const std::string& region) {
        std::vector<std::string> args = {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", kVcf), "--expression",
                                         dir.write("e.tsv", kMatrix), "--sample-map", dir.write("map", kMap),
                                         "--out", dir.file(out)};
        if (!region.empty())
            args.insert(args.end(), {"--region", region});
        ASSERT_EQ(run(MORV_PREPARE_BIN, args, "").status, 0);
    };
    prepare("right", "");
    prepare("wrong", "1:1-250");
    const Inputs in{dir.file("right/genotype.txt"), dir.file("right/expression.txt"), dir.file("right/allele.txt")};
    for (const std::string options : {"--threads", ""}) {
        std::vector<std::string> argv = morv_argv(in, dir.file("r" + options + ".txt"));
        if (!options.empty())
            argv.insert(argv.begin() + 1, {options, "2"});
        ASSERT_EQ(run(MORV_BIN, argv, "0.5\n").status, 0);
    }
    const struct { std::string results, folder; int status; std::string err; } cases[] = {
        {"r--threads.txt", "right", 0, ""},
        {"r--threads.txt", "wrong", 1, "Error: the prepared folder " + dir.file("wrong") + " is not the one whose files"},
        {"r.txt", "right", 0, "Warning: " + dir.file("r.txt") + " has no manifest"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.results + " " + c.folder);
        const RunResult r = run(MORV_ANNOTATE_BIN, {"morv-annotate", "--results", dir.file(c.results), "--prepared",
                                                    dir.file(c.folder)}, "");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(lines_of(r.out).size(), c.status ? 0u : 1u + 3 * 3);
    }
}

}  // namespace

// The values morv reads from a prepared expression file, log10 as morv takes them.
std::vector<std::vector<double>> logged(const std::string& path)
{
    std::vector<std::vector<double>> genes;
    for (const std::string& line : lines_of(read_file(path))) {
        std::istringstream fields(line);
        genes.emplace_back();
        for (double v; fields >> v;)
            genes.back().push_back(std::log10(v));
    }
    return genes;
}

double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    const double n = static_cast<double>(a.size());
    double ma = 0, mb = 0, ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        ma += a[i] / n, mb += b[i] / n;
    for (std::size_t i = 0; i < a.size(); ++i)
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    return ab / std::sqrt(aa * bb);
}

// Ranks to Blom's normal quantiles, ties at their mean rank; the quantiles
// were worked out apart from the program (Python's statistics.NormalDist).
// morv on the prepared file equals morv on those values written by hand.
TEST(Prepare, InverseNormalKeepsRanksAndZeros)
{
    const TempDir dir;
    const double r1 = -1.2815515655446008, r2h = -0.4124631294414046, r4 = 0.20189347914185077,
                 r5 = 0.6433454053929168, r6 = 1.2815515655446008, r2 = -0.6433454053929168, r3 = -0.2018934791418509;
    const std::string matrix = "gene\tE1\tE2\tE3\tE4\tE5\tE6\nt1\t5\t2\t2\t7\t9\t0\nt2\t0\t0\t0\t0\t2\t1\n"
                               "t3\t2\t4\t8\t16\t32\t64\n";
    const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", kVcf),
                            "--expression", dir.write("e.tsv", matrix), "--sample-map", dir.write("map", kMap),
                            "--transform", "int", "--out", dir.file("out")}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("over half the samples tied: 1\n"), std::string::npos) << r.out;
    const std::vector<std::vector<double>> want = {{r4, r2h, r2h, r5, r6, r1}, {r1, r2, r3, r4, r5, r6}};
    const auto got = logged(dir.file("out/expression.txt"));
    ASSERT_EQ(got.size(), want.size());
    std::string by_hand;
    for (std::size_t g = 0; g < want.size(); ++g)
        for (std::size_t s = 0; s < want[g].size(); ++s) {
            EXPECT_NEAR(got[g][s], want[g][s], 1e-14) << g << " " << s;
            char token[32];
            std::snprintf(token, sizeof token, "%.17g", std::pow(10.0, want[g][s]));
            by_hand += token + std::string(s + 1 < want[g].size() ? " " : "\n");
        }
    const std::string out = dir.file("out/");
    const Inputs ours{out + "genotype.txt", out + "expression.txt", out + "allele.txt"},
        hand{out + "genotype.txt", dir.write("hand.expr", by_hand), out + "allele.txt"};
    ASSERT_EQ(run(MORV_BIN, morv_argv(ours, dir.file("ours.txt")), "0.9\n").status, 0);
    ASSERT_EQ(run(MORV_BIN, morv_argv(hand, dir.file("hand.txt")), "0.9\n").status, 0);
    EXPECT_EQ(read_file(dir.file("ours.txt")), read_file(dir.file("hand.txt")));
}

// 30 samples; genes a and b follow the covariate c1 almost exactly, gene z
// does not. The covariates take that out; bad covariate files are refused.
TEST(Prepare, CovariatesTakeOutWhatTheyDrive)
{
    const TempDir dir;
    std::string vcf = kHead, matrix = "gene", covariates = "id", c1 = "\nc1", c2 = "\nc2";
    std::string genes[3] = {"\na", "\nb", "\nz"};
    for (int s = 0; s < 30; ++s) {
        const std::string id = "\tS" + std::to_string(s);
        vcf += id;
        matrix += id;
        covariates += id;
        const double c = std::sin(s * 1.7), noise[3] = {std::cos(s * 2.3), std::sin(s * 0.9 + 1), std::cos(s * 5.1)};
        c1 += "\t" + std::to_string(c);
        c2 += "\t" + std::to_string(s % 7);
        for (int g = 0; g < 3; ++g)
            genes[g] += "\t" + std::to_string(std::pow(10.0, (g < 2 ? c : 0) + 0.01 * noise[g]));
    }
    vcf += "\n1\t100\trs1\tA\tC\t.\t.\t.\tGT";
    for (int s = 0; s < 30; ++s)
        vcf += s % 3 == 0 ? "\t0/0" : s % 3 == 1 ? "\t0/1" : "\t1/1";
    const std::string good = covariates + "\tS99" + c1 + "\t1" + c2 + "\t1\n";
    const auto prepare = [&](const std::string& covariate_text, std::vector<std::string> extra) {
        std::vector<std::string> args = {"morv-prepare", "--min-class", "0", "--vcf", dir.write("s.vcf", vcf + "\n"), "--expression",
                                         dir.write("e.tsv", matrix + genes[0] + genes[1] + genes[2] + "\n"),
                                         "--out", dir.file("out")};
        if (!covariate_text.empty())
            args.insert(args.end(), {"--covariates", dir.write("cov.txt", covariate_text)});
        args.insert(args.end(), extra.begin(), extra.end());
        return run(MORV_PREPARE_BIN, args, "");
    };
    RunResult r = prepare("", {});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("|r| above 0.99: 1 (a and b: r 0.99"), std::string::npos) << r.out;
    r = prepare(good, {});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"above 0.99: 0\n", "covariates used: 2\n", "residual degrees of freedom: 27\n",
                             "covariate file not kept: 1\n", "ranks of the residuals"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;
    ASSERT_EQ(prepare(good, {"--transform", "log"}).status, 0);
    std::vector<double> c(30);
    for (int s = 0; s < 30; ++s)
        c[static_cast<std::size_t>(s)] = std::stod(std::to_string(std::sin(s * 1.7)));
    for (const auto& gene : logged(dir.file("out/expression.txt")))
        EXPECT_LT(std::abs(correlation(gene, c)), 1e-9);
    std::string fives = "\nc2";
    for (int s = 0; s < 30; ++s)
        fives += "\t5";
    const struct { std::string text, message; std::vector<std::string> extra; } refused[] = {
        {covariates + c1 + c2 + "\nc3" + c1.substr(3) + "\n", "c3 of", {}},  // c3 = c1
        {covariates + c1 + fives + "\n", "c2 of " + dir.file("cov.txt") + " is constant", {}},
        {"id\tS0\tS1\n" + std::string("c1\t1\t2\n"), "no column for the kept sample S2", {}},
        {covariates + c1 + c2.substr(0, c2.size() - 1) + "NA\n", "is not a finite number", {}},
        {"", "--pseudocount changes nothing", {"--transform", "int", "--pseudocount", "1"}},
    };
    for (const auto& c : refused) {
        r = prepare(c.text, c.extra);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}
