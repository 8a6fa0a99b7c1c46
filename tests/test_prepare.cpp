// morv-prepare seen from outside: the files it writes from a small VCF with
// every kind of record to skip, morv's results on them against morv's on the
// same data written by hand, and each way a run is refused.
#include <gtest/gtest.h>

#include <fstream>

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
    const std::vector<std::string> args = {"morv-prepare", "--vcf", dir.write("s.vcf", kVcf), "--expression",
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
}

// BED layout with six annotation columns, values as log2, a region, a gene list.
TEST(Prepare, ReadsBedLogValuesInARegion)
{
    const TempDir dir;
    const RunResult r = run(MORV_PREPARE_BIN, {"morv-prepare", "--vcf", dir.write("s.vcf", kVcf), "--expression",
                            dir.write("e.bed", kBed), "--scale", "log2", "--region", "1:150-700", "--genes",
                            dir.write("genes", "b1\nb2\n"), "--out", dir.file("out")}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("outside the region: 2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("value out of range: 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_in(dir, "expression.txt"), "1\t4\t8\t16\t32\t0.5\n");
    EXPECT_EQ(read_in(dir, "genes.tsv"), "index\tid\tchrom\tstart\tend\n0\tb1\t1\t10\t20\n");
    EXPECT_EQ(read_in(dir, "allele.txt"), "G\n");
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
        {kVcf, kMatrix, "--maf", "--maf wants a number"},
        {kVcf, kMatrix, "--out", "cannot create the output folder"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const std::string vcf = c.vcf.empty() ? dir.file("none.vcf") : dir.write("s.vcf", c.vcf);
        std::vector<std::string> args = {"morv-prepare", "--vcf", vcf, "--expression", dir.write("e.tsv", c.expression),
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

}  // namespace
