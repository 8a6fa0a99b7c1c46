// Whole runs of morv seen from outside: the start-up messages and report,
// byte for byte, and result lines whose values are known, on inputs whose
// base-10 logarithms are exact; the result header in both its forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "driver/result_file.hpp"
#include "simd/isa.hpp"
#include "stats/cascade.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

const std::string kUsage = "Usage: morv [-h] -g filenameG -e filenameE -a filenameA -o filenameO\n";
const std::string kArgs = "# of arguments: 0\n", kPrompt = kArgs + "threshold of MC test's pvalue?: ";

std::string repeat(const std::string& s, int times) { return times ? s + repeat(s, times - 1) : ""; }

// Standard output up to the measuring ({g} and so on: the run's paths).
std::string report(const std::string& g = "{g}")
{
    return kPrompt + "check the files...\ngenotype  : " + g +
           "\nexpression: {e}\nallele    : {a}\noutput    : {o}\ncheck the size of the input data...\n";
}

// What follows for ps SNPs, ngene genes and n samples, echoes and all pairs pruned.
std::string loaded(int ps, int ngene, int n, const std::string& geno, const std::string& expr)
{
    const std::string pairs = std::to_string(ps * ngene * (ngene - 1) / 2);
    return "#SNPs : " + std::to_string(ps) + "\n#genes: " + std::to_string(ngene) + "\nn     : " + std::to_string(n) +
           "\nread genotypes... " + geno + "...\nread expressions... " + expr + "...\nRunning...\n#pairs: " + pairs +
           "\n#prunings: " + pairs + "\n";
}

// {g}, {e}, {a}, {o} and {dir} replaced with the run's paths.
std::string fill(std::string text, const std::map<std::string, std::string>& paths)
{
    for (const auto& [key, value] : paths)
        for (auto at = text.find("{" + key + "}"); at != std::string::npos; at = text.find("{" + key + "}", at))
            text.replace(at, key.size() + 2, value);
    return text;
}

// Six heterozygous samples (MC p-value 1); the echo's six digits and exponents.
const std::string kGeno = repeat("A\tC\tG\tT\n", 6), kExpr = "5.12 1234567 0.000012345 2 3 4\n1 2 3 4 5 6\n6 5 4 3 2 1\n";

// A run that fails before the scan leaves an earlier result file as it was.
TEST(StartUp, PrintsExactlyAndEndsWithStatus)
{
    const auto specify = [](const char* what) { return "Error: Specify \"" + std::string(what) + "\"\n" + kUsage; };
    const std::vector<std::string> files = {"-g", "{g}", "-e", "{e}", "-a", "{a}", "-o", "{o}"};
    const std::string normal = report() + loaded(2, 3, 6, "ACGT", "5.12 1.23457e+06 1.2345e-05");
    const struct {
        std::vector<std::string> args;
        std::string input, out, err;
        int status;
        std::string geno = kGeno, expr = kExpr, allele = "A\nG\n";
    } cases[] = {
        {{"-g", "{g}", "-h", "-x"}, "", "", "HELP\n" + kUsage, 0},
        {{"-x"}, "", "", "morv: invalid option -- 'x'\n" + kUsage, 1},
        {{"-g", "{dir}/none", "-e", "{e}", "stray", "-a", "{a}", "-o", "{o}"}, "", "",
         "Error: Wrong number of arguments.\n" + kUsage, 1},
        {{}, "", kArgs, specify("-g filenameG"), 1},
        {{"-g", "{g}", "-a", "{a}", "-o", "{o}"}, "", kArgs, specify("-e filenameE"), 1},
        {{"-g", "{g}", "-e", "{e}", "-a", "{a}", "-o", ""}, "", kArgs, specify("-o filenameO"), 1},
        // The first file, in the order genotype, expression, allele, that does not open.
        {{"-a", "{dir}/a 2", "-e", "{dir}/e 2", "-g", "{g}", "-o", "{o}"}, "", kArgs,
         "Error: File \"{dir}/e 2\" not found.\n", 1},
        {files, "abc\n", kPrompt, "Error: Aborted due to input error.\n", 1},
        {files, "0.05\n", normal, "", 0},
        {files, "\n\n  5e-2xyz", normal, "", 0},  // read as a stream reads a double
        {{"-g", "{dir}/none", "-e", "{e}", "-a", "{a}", "-o", "{o}", "-g", "{g}"}, "0.05\n", normal, "", 0},
        {files, "0.05\n", report() + loaded(1, 3, 1, "AC", "5.12"), "", 0, "A\tC\n", "5.12\n7\n8\n"},
        {files, "0.05\n", report() + loaded(2, 0, 6, "ACGT", ""), "", 0, kGeno, ""},
        // No samples: no SNPs, so the allele file is never read.
        {files, "0.05\n", report() + loaded(0, 3, 0, "", ""), "", 0, "", "ab\n", "x"},
        {files, "0.05\n", report(), "Error: Invalid format in genome data\n", 1, kGeno + "A\tC\tG\n"},
        {{"-g", "{dir}", "-e", "{e}", "-a", "{a}", "-o", "{o}"}, "0.05\n", report("{dir}"),
         "Error: Aborted due to input error (genome data).\n", 1},
        {files, "0.05\n", normal.substr(0, normal.find("read expressions... ") + 20),
         "Error: Invalid data in expressions\n", 1, kGeno, "1 2 3 4 5 6\n1 NA 3 4 5 6\n1 2 3 4 5 6\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const Inputs in = write_inputs(dir, c.geno, c.expr, c.allele);
        const std::map<std::string, std::string> paths = {
            {"g", in.geno}, {"e", in.expr}, {"a", in.allele}, {"o", dir.write("out.txt", "earlier\n")}, {"dir", dir.path}};
        std::vector<std::string> argv = {"morv"};
        for (const std::string& a : c.args)
            argv.push_back(fill(a, paths));
        SCOPED_TRACE(::testing::PrintToString(argv) + " with input " + ::testing::PrintToString(c.input));
        const RunResult r = run(MORV_BIN, argv, c.input);
        EXPECT_EQ(r.out, fill(c.out, paths));
        EXPECT_EQ(r.err, fill(c.err, paths));
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(c.status == 0 || read_file(paths.at("o")) == "earlier\n");
    }
}

// One SNP against reference allele A: class 0 is A,A, class 1 A,G, class 2 G,G.
std::string genotypes(const std::string& classes)
{
    std::string text;
    for (char c : classes)
        text += c == '0' ? "A\tA\n" : c == '1' ? "A\tG\n" : "G\tG\n";
    return text;
}

// Genes by their base-10 logarithms, which read back exactly where `exact`.
std::string expressions(const std::vector<std::vector<double>>& logs, bool exact = true)
{
    std::string text;
    for (const auto& gene : logs) {
        for (double x : gene) {
            char value[32];
            std::snprintf(value, sizeof value, "%.17g ", std::pow(10.0, x));
            EXPECT_TRUE(!exact || std::log10(std::strtod(value, nullptr)) == x) << value;
            text += value;
        }
        text += "\n";
    }
    return text;
}

TEST(KnownValues, ResultLinesOfWholeRuns)
{
    const std::vector<double> x1 = {1, 2, 3, 3, 4, 5, 0.5, 1.5, 1}, x2 = {2, 1, 4, 5, 4, 6, 0, 1, 3};
    const std::vector<double> s1 = {1, 2, 3, 4, 0.5, 1.5}, s2 = {2, 1, 5, 4, 0, 1};
    const std::string nine = expressions({x1, x2}), six = expressions({s1, s2});
    const std::string firstSix = expressions({{1, 2, 3, 3, 4, 5}, {2, 1, 4, 5, 4, 6}});
    // Ninety samples; in each class gene 1 follows gene 0 up to 1e-6, with a
    // class offset: T about 2260, where the tail underflows but below the cap.
    std::vector<double> y1, y2;
    for (int i = 0; i < 90; ++i) {
        y1.push_back(1 + 0.05 * (i % 30));
        y2.push_back(y1.back() + 0.5 * (i / 30 == 1) - 0.5 * (i / 30 == 2) + 1e-6 * ((i % 30 * 7) % 5 - 2));
    }
    const struct {
        const char* name;
        std::string geno, expr, allele, threshold, line;  // a line ending in a tab: a prefix
    } cases[] = {
        // T about 16.1583, p about 0.09519.
        {"MC example", genotypes("000111222"), nine, "A\n", "0.05", "0\t0\t1\t0\t-1.021414\t1.0\t1.0"},
        {"heterozygote G,A", genotypes("000111222").replace(16, 3, "G\tA"), nine, "A\n", "0.05",
         "0\t0\t1\t0\t-1.021414\t1.0\t1.0"},
        // Two samples per class: MC p-value 2, passed only above 2.
        {"LDA example", genotypes("001122"), six, "A\n", "3", "0\t0\t1\t2\t0.301030\t-1.301055\t1.0"},
        {"threshold equal to the p-value", genotypes("001122"), six, "A\n", "2", "0\t0\t1\t0\t0.301030\t1.0\t1.0"},
        // Constant within classes: the LDA sentinel, below the cut-off.
        {"singular pooled covariance", genotypes("001122"), expressions({{1, 1, 3, 3, 0.5, 0.5}, s2}), "A\n", "3",
         "0\t0\t1\t1\t0.301030\t-9999.000000\t"},
        // An empty class: MC p-value 1; the LDA then gives ln 0.5 per sample.
        {"empty class", genotypes("000111"), firstSix, "A\n", "1", "0\t0\t1\t0\t0.000000\t1.0\t1.0"},
        {"empty class passed on", genotypes("000111"), firstSix, "A\n", "1.5", "0\t0\t1\t2\t0.000000\t-4.158883\t1.0"},
        {"lower-case reference", genotypes("000111222"), nine, "a\n", "0.05", "0\t0\t1\t0\t0.000000\t1.0\t1.0"},
        {"one sample in a class", genotypes("000111211"), nine, "A\n", "0.05", "0\t0\t1\t0\t0.301030\t1.0\t1.0"},
        {"zero and negative values", genotypes("000111222"), "1 10 100 10 1 100 10 100 1\n0 10 100 1000 10 100 -5 10 100\n",
         "A\n", "0.05", "0\t0\t1\t0\t0.000000\t1.0\t1.0"},
        {"underflowing p-value", genotypes(repeat("0", 30) + repeat("1", 30) + repeat("2", 30)),
         expressions({y1, y2}, false), "A\n", "0", "0\t0\t1\t0\t-inf\t1.0\t1.0"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult r = run(MORV_BIN, morv_argv(write_inputs(dir, c.geno, c.expr, c.allele), dir.file("out.txt")),
                                c.threshold + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = lines_of(read_file(dir.file("out.txt")));
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(c.line.back() == '\t' ? lines[3].substr(0, c.line.size()) : lines[3], c.line);
        EXPECT_NE(r.out.find(c.line[6] == '1' ? "#pairs: 1\n#prunings: 0" : "#pairs: 1\n#prunings: 1"), std::string::npos);
    }
}

// "threshold = " from 1e-6 up and for 0, else "log10(threshold) = ".
TEST(ResultHeader, ThresholdLineAndCutOff)
{
    volatile double negative = -0.5;  // the C library's own NaN, not the compiler's
    char nan[32];
    std::snprintf(nan, sizeof nan, "%f", std::log10(negative));
    const std::pair<double, std::string> cases[] = {
        {0, "threshold = 0.000000"},   {1e-6, "threshold = 0.000001"}, {0.05, "threshold = 0.050000"},
        {1.5, "threshold = 1.500000"}, {1e-7, "log10(threshold) = -7.000000"},
        {-0.5, "log10(threshold) = " + std::string(nan)}};
    TempDir dir;
    for (const auto& [threshold, line] : cases) {
        write_result_header(dir.file("out.txt"), threshold);
        EXPECT_EQ(read_file(dir.file("out.txt")), "Results of MORV:\n" + line +
                                                      "\nSNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t "
                                                      "likelihood(LDA) \t p-value(IT)\n");
    }
    EXPECT_NEAR(lda_cutoff(), std::log(1e-10), 1e-12);
}

}  // namespace

// MORV_ISA caps the level: each level the CPU has writes the same file; a
// name that is no level, or one the CPU lacks, ends the run before it reads
// a thing.
TEST(StartUp, MorvIsaChoosesTheLevel)
{
    const TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "60 4 9 7 --random-effects 0.5");
    ASSERT_EQ(run(MORV_BIN, morv_argv(in, dir.file("best.txt")), "0.5\n").status, 0);
    std::vector<std::pair<std::string, std::string>> refused = {{"sse9", "Error: MORV_ISA=sse9 is not a level: "
                                                                          "say generic, avx2 or avx512\n"}};
    for (Isa isa : {Isa::generic, Isa::avx2, Isa::avx512}) {
        ::setenv("MORV_ISA", isa_name(isa), 1);
        if (!isa_supported(isa)) {
            refused.emplace_back(isa_name(isa), std::string("this CPU lacks the ") + isa_name(isa) + " level");
            continue;
        }
        ASSERT_EQ(run(MORV_BIN, morv_argv(in, dir.file("level.txt")), "0.5\n").status, 0) << isa_name(isa);
        EXPECT_EQ(read_file(dir.file("level.txt")), read_file(dir.file("best.txt"))) << isa_name(isa);
    }
    for (const auto& [name, message] : refused) {
        ::setenv("MORV_ISA", name.c_str(), 1);
        const RunResult r = run(MORV_BIN, morv_argv(in, dir.file("no.txt")), "0.5\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    ::unsetenv("MORV_ISA");
}
