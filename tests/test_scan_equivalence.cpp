// The fast scan shipped in morv must give exactly what the plain reference
// scan gives: the same result file bytes, standard output, standard error and
// exit status, on simulated and hand-made inputs and on every fault that can
// end a scan part way.

#include "tests/support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::lines_of;
using testsupport::values_of;
using testsupport::RunResult;
using testsupport::TempDir;

struct Inputs {
    std::string geno, expr, allele;
};

struct Outcome {
    RunResult run;
    std::string result;  // the result file, or a marker when there is none
};

const std::string kNoFile = "<no result file>";

// Both engines see the very same argv, output path included, so their
// start-up reports can be compared byte for byte. A scratch output is removed
// first, so nothing of the other engine's run can survive in it; a device
// (/dev/stdout, /dev/full) is neither removed nor read back.
Outcome run_engine(const std::string& bin, const Inputs& in, const std::string& output,
                   const std::string& threshold, bool scratch = true)
{
    if (scratch)
        std::remove(output.c_str());
    Outcome o;
    o.run = testsupport::run(
        bin, {"morv", "-g", in.geno, "-e", in.expr, "-a", in.allele, "-o", output},
        threshold + "\n");
    if (scratch)
        o.result = testsupport::file_exists(output) ? testsupport::read_file(output) : kNoFile;
    return o;
}

// Where two texts first part, line by line, for a readable failure.
std::string first_difference(const std::string& fast, const std::string& ref)
{
    std::istringstream a(fast), b(ref);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool ha = static_cast<bool>(std::getline(a, la));
        const bool hb = static_cast<bool>(std::getline(b, lb));
        if (!ha && !hb)
            return "texts differ only in their final newline";
        if (ha != hb || la != lb) {
            return "line " + std::to_string(line) + ":\n  fast:      " + (ha ? la : "<end>") +
                   "\n  reference: " + (hb ? lb : "<end>");
        }
    }
}

void expect_same(const Outcome& fast, const Outcome& ref)
{
    EXPECT_EQ(fast.run.status, ref.run.status) << "stderr of morv: " << fast.run.err;
    EXPECT_EQ(fast.run.signal, ref.run.signal);
    EXPECT_TRUE(fast.run.err == ref.run.err) << first_difference(fast.run.err, ref.run.err);
    EXPECT_TRUE(fast.run.out == ref.run.out) << first_difference(fast.run.out, ref.run.out);
    EXPECT_TRUE(fast.result == ref.result) << first_difference(fast.result, ref.result);
}

// Runs both engines on one input and threshold; returns the reference's run.
Outcome compare(const Inputs& in, const std::string& output, const std::string& threshold,
                bool scratch = true)
{
    SCOPED_TRACE("threshold " + threshold + ", output " + output);
    const Outcome ref = run_engine(MORV_REFERENCE_BIN, in, output, threshold, scratch);
    const Outcome fast = run_engine(MORV_BIN, in, output, threshold, scratch);
    expect_same(fast, ref);
    return ref;
}

// Counts of flags 0, 1 and 2 among the result lines, to check that a case
// reaches the stages it is meant to exercise.
struct Flags {
    int count[3] = {0, 0, 0};
    void add(const std::string& result)
    {
        std::istringstream in(result);
        std::string line;
        for (int header = 0; header < 3 && std::getline(in, line); ++header) {
        }
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string f;
            for (int k = 0; k < 4; ++k)
                std::getline(fields, f, '\t');
            const int flag = std::stoi(f);
            if (flag >= 0 && flag <= 2)
                ++count[flag];
        }
    }
};

Inputs simulate(const TempDir& dir, const std::string& prefix, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {MORV_SIMULATE_BIN, "--out", dir.file(prefix)};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = testsupport::run(MORV_SIMULATE_BIN, argv, "");
    EXPECT_EQ(r.status, 0) << r.err;
    return {dir.file(prefix + ".geno"), dir.file(prefix + ".expr"), dir.file(prefix + ".allele")};
}

// Class sizes (0, 1, 2) of every SNP of a data set, from its files.
std::vector<std::vector<int>> class_sizes(const Inputs& in)
{
    const std::vector<std::string> alleles = lines_of(testsupport::read_file(in.allele));
    const std::vector<std::string> samples = lines_of(testsupport::read_file(in.geno));
    std::vector<std::vector<int>> sizes;
    for (std::size_t k = 0; k < alleles.size(); ++k) {
        std::vector<int> c(3, 0);
        for (const std::string& s : samples)
            ++c[(s.at(4 * k) != alleles[k][0]) + (s.at(4 * k + 2) != alleles[k][0])];
        sizes.push_back(c);
    }
    return sizes;
}

const std::vector<std::string> kAllThresholds = {"0", "1e-7", "1e-4", "0.05", "0.5", "1", "3", "-1"};

struct SimCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> thresholds;
};

// Shapes around the fast engine's blocks of 8 genes and vectors of 8 and 16
// partners, sample counts down to 1, and every data feature of the simulator.
const std::vector<SimCase> kSimCases = {
    {"planted effects, all thresholds",
     {"--samples", "100", "--snps", "3", "--genes", "9", "--seed", "11", "--mean-effect", "0:1:3",
      "--mean-effect", "1:2:2", "--mean-effect", "2:0:4", "--cov-effect", "2:3:4:0.9",
      "--random-effects", "0.3"},
     kAllThresholds},
    {"strong mean effects",
     {"--samples", "60", "--snps", "2", "--genes", "8", "--seed", "4", "--mean-effect", "0:0:6",
      "--mean-effect", "0:1:6", "--mean-effect", "0:5:8", "--mean-effect", "1:2:5",
      "--mean-effect", "1:3:-7"},
     {"0.05", "3"}},
    // MC p-values from moderate down to subnormal and 0 (log10 -inf).
    {"extreme statistics",
     {"--samples", "450", "--snps", "2", "--genes", "7", "--seed", "7", "--mean-effect", "0:0:8",
      "--mean-effect", "0:1:6", "--mean-effect", "0:2:5", "--mean-effect", "0:3:4",
      "--mean-effect", "0:4:3", "--cov-effect", "0:5:6:0.99"},
     {"-1", "1e-300", "1e-7"}},
    {"random effects, 17 genes",
     {"--samples", "40", "--snps", "2", "--genes", "17", "--seed", "21", "--random-effects",
      "0.5:2:0.8"},
     {"1e-4", "0.05", "1", "3"}},
    {"33 genes", {"--samples", "20", "--snps", "2", "--genes", "33", "--seed", "8"}, {"0.5", "3"}},
    {"16 samples", {"--samples", "16", "--snps", "3", "--genes", "9", "--seed", "3"},
     {"0.5", "2", "2.0000001", "3"}},
    {"15 samples", {"--samples", "15", "--snps", "2", "--genes", "8", "--seed", "6"}, {"3"}},
    {"17 samples", {"--samples", "17", "--snps", "2", "--genes", "17", "--seed", "7"}, {"3"}},
    {"one sample", {"--samples", "1", "--snps", "2", "--genes", "4", "--seed", "5"}, {"0.5", "3"}},
    {"two samples", {"--samples", "2", "--snps", "2", "--genes", "9", "--seed", "5"}, {"3"}},
    {"three samples", {"--samples", "3", "--snps", "3", "--genes", "3", "--seed", "9"}, {"3", "-1"}},
    {"no genes", {"--samples", "10", "--snps", "3", "--genes", "0"}, {"0.05"}},
    {"one gene", {"--samples", "10", "--snps", "3", "--genes", "1"}, {"0.05"}},
    {"two genes", {"--samples", "30", "--snps", "4", "--genes", "2", "--seed", "2"}, {"0.05", "3"}},
    {"three genes", {"--samples", "30", "--snps", "4", "--genes", "3", "--seed", "3"}, {"3"}},
    {"rare classes",
     {"--samples", "30", "--snps", "6", "--genes", "9", "--seed", "12", "--rare", "0:0.01",
      "--rare", "1:0.03", "--rare", "2:0.06", "--rare", "3:0.1", "--rare", "4:0.9", "--rare",
      "5:0.97"},
     {"-1", "0.5", "3"}},
    {"nonpositive values",
     {"--samples", "40", "--snps", "2", "--genes", "9", "--seed", "13", "--nonpositive", "0.05",
      "--mean-effect", "0:1:3"},
     {"0.05", "3"}},
    {"many nonpositive values",
     {"--samples", "25", "--snps", "2", "--genes", "8", "--seed", "14", "--nonpositive", "0.4"},
     {"3"}},
    {"lower case in genotypes",
     {"--samples", "40", "--snps", "3", "--genes", "8", "--seed", "15", "--lower-case", "0.3:geno",
      "--mean-effect", "1:2:3"},
     {"0.05", "3"}},
    {"lower case in alleles",
     {"--samples", "40", "--snps", "4", "--genes", "8", "--seed", "16", "--lower-case",
      "0.5:allele"},
     {"3"}},
    {"lower case in both",
     {"--samples", "40", "--snps", "4", "--genes", "9", "--seed", "17", "--lower-case", "0.4:both"},
     {"3"}},
    {"all lower case",
     {"--samples", "30", "--snps", "2", "--genes", "8", "--seed", "18", "--lower-case", "1:both",
      "--mean-effect", "0:3:3"},
     {"0.05", "3"}},
    {"other line formats",
     {"--samples", "24", "--snps", "3", "--genes", "9", "--seed", "19", "--separator", "space",
      "--crlf", "--trailing-separator"},
     {"3"}},
};

TEST(ScanEquivalence, SimulatedDataSets)
{
    TempDir dir;
    Flags flags;
    for (const SimCase& c : kSimCases) {
        SCOPED_TRACE(c.name);
        const Inputs in = simulate(dir, "sim", c.args);
        for (std::string t : c.thresholds)
            flags.add(compare(in, dir.file("out.txt"), t).result);
    }
    // The table must reach every stage of the cascade, and often.
    EXPECT_GT(flags.count[0], 1000);
    EXPECT_GT(flags.count[1], 1000);
    EXPECT_GT(flags.count[2], 20);
}

// Many seeds over the gene counts at the block and vector boundaries.
TEST(ScanEquivalence, ManySeedsAndShapes)
{
    const int genes[] = {2, 3, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 47, 48, 49};
    const int samples[] = {4, 9, 16, 23, 50, 31};
    TempDir dir;
    for (int seed = 1; seed <= 30; ++seed) {
        const int g = genes[seed % 15], s = samples[seed % 6];
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Inputs in = simulate(dir, "sim", {"--samples", std::to_string(s), "--snps", "2",
                                                "--genes", std::to_string(g), "--seed",
                                                std::to_string(100 + seed), "--random-effects",
                                                "0.3:3"});
        compare(in, dir.file("out.txt"), seed % 2 ? "3" : "0.05");
    }
}

// Genotypes with chosen class sizes (0 to 3 samples in a class, classes
// interleaved), against simulated expression values of the same samples.
TEST(ScanEquivalence, TinyClasses)
{
    const std::vector<std::string> patterns = {
        "2222222122222222", "1111111111111110", "0011111111111111", "2121111101111111",
        "0120120121111111", "2222222222222222", "0000000000000000", "1212121212121212",
        "0102010201020102", "2100000000000012", "1000000000000022", "2220111111111111",
    };
    std::string geno;
    for (std::size_t s = 0; s < 16; ++s) {
        for (std::size_t k = 0; k < patterns.size(); ++k) {
            static const char* kPairs[] = {"A\tA", "A\tG", "G\tG", "G\tA"};
            const int c = patterns[k][s] - '0';
            // Heterozygotes in both orders.
            geno += (c == 1 && s % 2) ? kPairs[3] : kPairs[c];
            geno += k + 1 < patterns.size() ? "\t" : "\n";
        }
    }
    TempDir dir;
    Inputs in = simulate(dir, "sim", {"--samples", "16", "--snps", "1", "--genes", "9",
                                      "--seed", "31", "--mean-effect", "0:2:4"});
    in.geno = dir.write("tiny.geno", geno);
    std::string allele;
    for (std::size_t k = 0; k < patterns.size(); ++k)
        allele += "A\n";
    in.allele = dir.write("tiny.allele", allele);

    std::set<int> sizes;
    for (const std::vector<int>& c : class_sizes(in))
        sizes.insert(c.begin(), c.end());
    for (int tiny : {0, 1, 2, 3})
        EXPECT_EQ(sizes.count(tiny), 1u) << tiny;
    for (const char* t : {"-1", "1e-7", "0.05", "1", "3"})
        compare(in, dir.file("out.txt"), t);
}

// Tens of thousands of pairs, most of them pruned by the MC test, around
// thresholds where the printed p-value of a pruned pair must come out exact.
TEST(ScanEquivalence, ManyPrunedPairs)
{
    TempDir dir;
    const Inputs several = simulate(dir, "several", {"--samples", "40", "--snps", "10", "--genes",
                                                     "65", "--seed", "51", "--random-effects",
                                                     "0.2"});
    for (const char* t : {"1e-4", "0.05", "-1"})
        compare(several, dir.file("out.txt"), t);
    const Inputs one = simulate(dir, "one", {"--samples", "60", "--snps", "1", "--genes", "200",
                                             "--seed", "52", "--random-effects", "0.2"});
    for (const char* t : {"1e-7", "0.05"})
        compare(one, dir.file("out.txt"), t);
}

// Genes that copy, scale or nearly copy others: determinants at the edge of
// 0 and statistics from heavy cancellation.
TEST(ScanEquivalence, NearlySingularPairs)
{
    TempDir dir;
    Inputs in = simulate(dir, "sim", {"--samples", "30", "--snps", "3", "--genes", "6", "--seed",
                                      "53", "--mean-effect", "0:1:2"});
    std::vector<std::vector<double>> genes = values_of(testsupport::read_file(in.expr));
    const std::size_t original = genes.size();
    for (std::size_t g = 0; g < 3; ++g) {
        for (double factor : {1.0, 10.0, 3.0, 1.0000000001}) {
            std::vector<double> copy = genes[g];
            for (double& v : copy)
                v *= factor;
            genes.push_back(copy);
        }
    }
    // Squares: a curved but deterministic relation.
    std::vector<double> squares = genes[0];
    for (double& v : squares)
        v *= v;
    genes.push_back(squares);
    std::ostringstream expr;
    expr.precision(17);
    for (const std::vector<double>& gene : genes) {
        for (std::size_t s = 0; s < gene.size(); ++s)
            expr << (s ? "\t" : "") << gene[s];
        expr << "\n";
    }
    ASSERT_GT(genes.size(), original);
    in.expr = dir.write("singular.expr", expr.str());
    for (const char* t : {"1e-4", "0.5", "3"})
        compare(in, dir.file("out.txt"), t);
}

struct HandCase {
    const char* name;
    const char* geno;
    const char* expr;
    const char* allele;
};

// Inputs the simulator cannot produce.
const std::vector<HandCase> kHandCases = {
    {"one sample", "A\tG\tC\tC\n", "5\n6\n7\n8\n", "A\nC\n"},
    {"identical values",
     "A\tA\tC\tG\nA\tG\tC\tC\nG\tG\tG\tG\nA\tA\tC\tC\nA\tG\tG\tC\nG\tG\tC\tC\nA\tA\tG\tG\n"
     "A\tG\tC\tG\n",
     "5 5 5 5 5 5 5 5\n5 5 5 5 5 5 5 5\n5 5 5 5 5 5 5 5\n", "A\nC\n"},
    // Gene 0 is 1, 2 and 4 in log10 by class: constant within every class,
    // exactly, so the pooled covariance is singular and the LDA gives up.
    {"constant within classes",
     "A\tA\nA\tG\nG\tG\nA\tA\nG\tA\nG\tG\nA\tA\nA\tG\nG\tG\nA\tA\n",
     "10 100 10000 10 100 10000 10 100 10000 10\n"
     "3.1 7.4 2.2 9.9 4.5 6.1 1.3 8.8 5.7 2.6\n"
     "12 17 31 44 23 19 28 37 15 41\n",
     "A\n"},
    {"huge and tiny values",
     "A\tA\tC\tG\nA\tG\tC\tC\nG\tG\tG\tG\nA\tA\tC\tC\nA\tG\tG\tC\nG\tG\tC\tC\nA\tA\tG\tG\n"
     "A\tG\tC\tG\nG\tA\tC\tC\nG\tG\tG\tC\n",
     "1e300 1e-300 1e300 2e300 1e-300 1e308 1e-300 1e300 3e-300 1e300\n"
     "1e-300 1e-300 1e300 1e300 1e-300 1e-300 1e300 1e300 1e-300 1e300\n"
     "4.9e-324 1e-320 2.2e-308 1 1e10 1.7e308 5 6 7 8\n"
     "1 2 3 4 5 6 7 8 9 10\n",
     "A\nC\n"},
    {"non-finite and nonpositive values",
     "A\tA\tC\tG\nA\tG\tC\tC\nG\tG\tG\tG\nA\tA\tC\tC\nA\tG\tG\tC\nG\tG\tC\tC\nA\tA\tG\tG\n"
     "A\tG\tC\tG\n",
     "inf 2 3 4 5 6 7 8\nnan 2 3 4 5 6 7 8\n0 2 3 4 5 6 7 8\n-3 2 3 4 5 6 7 8\n"
     "-0 2 3 4 5 6 7 8\n1 2 3 4 5 6 7 8.5\n",
     "A\nC\n"},
    {"no samples", "", "1 2\n3 4\n", "A\n"},
    {"no SNPs", "A\nG\n", "1 2\n3 4\n5 6\n", "A\n"},
    {"nearly collinear genes",
     "A\tA\nA\tG\nG\tG\nA\tA\nG\tA\nG\tG\nA\tA\nA\tG\nG\tG\nA\tA\nG\tG\nA\tG\n",
     "2 3 5 7 11 13 17 19 23 29 31 37\n"
     "4 9 25 49 121 169 289 361 529 841 961 1369\n"
     "2.0000001 3 5 7 11 13 17 19 23 29 31 37\n",
     "A\n"},
};

TEST(ScanEquivalence, HandMadeInputs)
{
    TempDir dir;
    for (const HandCase& c : kHandCases) {
        SCOPED_TRACE(c.name);
        const Inputs in = {dir.write("h.geno", c.geno), dir.write("h.expr", c.expr),
                           dir.write("h.allele", c.allele)};
        for (const char* t : {"0.05", "1", "3"})
            compare(in, dir.file("out.txt"), t);
    }
}

TEST(ScanEquivalence, LdaSentinelIsReached)
{
    // Guards the case above against silently testing something else.
    TempDir dir;
    const HandCase& c = kHandCases[2];
    const Inputs in = {dir.write("h.geno", c.geno), dir.write("h.expr", c.expr),
                       dir.write("h.allele", c.allele)};
    const Outcome ref = compare(in, dir.file("out.txt"), "3");
    EXPECT_NE(ref.result.find("\t-9999.000000\t"), std::string::npos) << ref.result;
}

struct AlleleFault {
    const char* name;
    const char* allele;  // for 4 SNPs
};

const std::vector<AlleleFault> kAlleleFaults = {
    {"invalid letter at SNP 0", "N\nC\nG\nT\n"},
    {"invalid letter at SNP 2", "A\nC\nN\nT\n"},
    {"overlong line at SNP 0", "AAAAA\nC\nG\nT\n"},
    {"overlong line at SNP 2", "A\nC\nG    \nT\n"},
    {"overlong line at the last SNP", "A\nC\nG\nTTTTTTTTT\n"},
    {"empty line at SNP 0", "\nC\nG\nT\n"},
    {"empty line at SNP 2", "A\nC\n\nT\n"},
    {"short file", "A\nC\n"},
    {"empty file", ""},
    {"last line without newline", "A\nC\nG\nT"},
    {"overlong line before the SNP", "A\nCCCCCCC\nG\n"},
};

TEST(ScanEquivalence, AlleleFaultsDuringTheScan)
{
    TempDir dir;
    Inputs in = simulate(dir, "sim", {"--samples", "12", "--snps", "4", "--genes", "9",
                                      "--seed", "41", "--mean-effect", "0:1:3"});
    for (const AlleleFault& f : kAlleleFaults) {
        SCOPED_TRACE(f.name);
        in.allele = dir.write("fault.allele", f.allele);
        compare(in, dir.file("out.txt"), "0.5");
        // Through standard output, the lines and the messages interleave.
        compare(in, "/dev/stdout", "0.5", false);
    }
}

TEST(ScanEquivalence, OutputFaults)
{
    TempDir dir;
    const Inputs in = simulate(dir, "sim", {"--samples", "12", "--snps", "2", "--genes", "9",
                                            "--seed", "42"});
    const Outcome missing = compare(in, dir.file("no/such/dir/out.txt"), "0.5");
    EXPECT_EQ(missing.run.status, 1);
    const Outcome full = compare(in, "/dev/full", "0.5", false);
    EXPECT_EQ(full.run.status, 1);
    const Outcome stdout_ok = compare(in, "/dev/stdout", "3", false);
    EXPECT_EQ(stdout_ok.run.status, 0);
}

// More than the fast engine's 1 MiB buffer of lines, then a fault at a late
// SNP: the blocks already written and the ones still buffered must add up to
// what the reference has appended line by line.
TEST(ScanEquivalence, LargeOutputThenAlleleFault)
{
    TempDir dir;
    Inputs in = simulate(dir, "sim", {"--samples", "6", "--snps", "22", "--genes", "65",
                                      "--seed", "43"});
    std::string allele;
    for (int k = 0; k < 22; ++k)
        allele += k == 20 ? "X\n" : "A\n";
    in.allele = dir.write("late.allele", allele);
    const Outcome ref = compare(in, dir.file("out.txt"), "0");
    EXPECT_GT(ref.result.size(), std::size_t(1) << 20);
    EXPECT_EQ(ref.run.status, 1);
}

// A file size limit makes a write fail part way through the lines; with the
// signal ignored the write reports the fault, otherwise the signal ends the
// run. The shell sets the limit, then becomes the engine, reached through a
// link of the same name for both.
TEST(ScanEquivalence, WriteFailureMidScan)
{
    TempDir dir;
    const Inputs in = simulate(dir, "sim", {"--samples", "8", "--snps", "3", "--genes", "33",
                                            "--seed", "44"});
    const std::string link = dir.file("morv");
    const std::string output = dir.file("out.txt");
    for (const char* trap : {"trap '' XFSZ; ", ""}) {
        SCOPED_TRACE(*trap ? "signal ignored" : "signal default");
        Outcome o[2];
        const char* engines[2] = {MORV_REFERENCE_BIN, MORV_BIN};
        for (int e = 0; e < 2; ++e) {
            std::remove(link.c_str());
            ASSERT_EQ(symlink(engines[e], link.c_str()), 0);
            std::remove(output.c_str());
            const std::string script = std::string(trap) + "ulimit -f 40 && exec \"$0\" \"$@\"";
            o[e].run = testsupport::run("/bin/sh",
                                        {"sh", "-c", script, link, "-g", in.geno, "-e", in.expr,
                                         "-a", in.allele, "-o", output},
                                        "0.5\n");
            o[e].result = testsupport::read_file(output);
        }
        expect_same(o[1], o[0]);
        if (*trap) {
            EXPECT_EQ(o[0].run.status, 1);
            EXPECT_EQ(o[0].run.err, "Error: Cannot write the output file.\n");
        } else {
            EXPECT_EQ(o[0].run.signal, SIGXFSZ);
        }
        // The limit must stop the run inside the lines, not in the header.
        EXPECT_GT(o[0].result.size(), 1000u);
        EXPECT_NE(o[0].run.out.find("Running..."), std::string::npos);
    }
}

}  // namespace
