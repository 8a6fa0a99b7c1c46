// Whole runs of the program, checked through the result file and the final
// counts: the layout of every line, the flags against the threshold and the
// LDA cut-off, known values built from exact logarithms, the edge cases of
// the scan and its failures. Every test runs against both scan engines.
#include "tests/cli_helpers.hpp"
#include "tests/support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace {

using testsupport::RunResult;
using testsupport::TempDir;

// The natural logarithm of 1e-10: pairs whose LDA value is below it go on
// to the interaction test.
constexpr double kLdaCutoff = -23.025850929940457;

struct Outcome {
    RunResult run;
    std::string result;  // the result file, empty when none was written
};

// `readResult` false for outputs that are devices, not files.
Outcome run_files(const std::string& binary, const cli::RunFiles& f, const std::string& input,
                  bool readResult = true)
{
    Outcome o{cli::run_with(binary, f, input), ""};
    if (readResult && testsupport::file_exists(f.output))
        o.result = testsupport::read_file(f.output);
    return o;
}

Outcome run_texts(const std::string& binary, const TempDir& dir, const std::string& geno,
                  const std::string& expr, const std::string& allele, const std::string& input)
{
    return run_files(binary, cli::write_inputs(dir, geno, expr, allele), input);
}

// Simulated inputs with planted effects, so that all three flags occur.
cli::RunFiles simulate(const TempDir& dir, int samples, int snps, int genes, int seed,
                       const std::vector<std::string>& extra = {})
{
    const std::string prefix = dir.file("sim");
    std::vector<std::string> argv{"morv-simulate", "--samples", std::to_string(samples),
                                  "--snps", std::to_string(snps), "--genes",
                                  std::to_string(genes), "--seed", std::to_string(seed),
                                  "--random-effects", "0.6:1.5:0.8", "--out", prefix};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const RunResult r = testsupport::run(MORV_SIMULATE_BIN, argv, "");
    EXPECT_EQ(r.status, 0) << r.err;
    return {prefix + ".geno", prefix + ".expr", prefix + ".allele", dir.file("out.txt")};
}

// "%f" text: an optional minus, then digits, a point and six digits, or
// the spelled-out infinity or NaN.
bool is_fixed6(const std::string& field)
{
    const std::string body = !field.empty() && field[0] == '-' ? field.substr(1) : field;
    if (body == "inf" || body == "nan")
        return true;
    const std::size_t point = body.find('.');
    if (point == std::string::npos || point == 0 || body.size() - point - 1 != 6)
        return false;
    for (std::size_t i = 0; i < body.size(); ++i)
        if (i != point && (body[i] < '0' || body[i] > '9'))
            return false;
    return true;
}

std::string count_report(unsigned long long pairs, unsigned long long prunings)
{
    return "#pairs: " + std::to_string(pairs) + "\n#prunings: " + std::to_string(prunings) +
           "\n";
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct FlagCounts {
    long long of[3] = {0, 0, 0};
};

// Checks every line of a complete result file and the counts on stdout.
void check_structure(const Outcome& o, int ps, int ngene, double threshold,
                     const std::string& thresholdLine, FlagCounts& flags)
{
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_EQ(o.run.err, "");
    const std::vector<std::string> lines = cli::lines_of(o.result);
    const long long pairs = static_cast<long long>(ps) * ngene * (ngene - 1) / 2;
    ASSERT_EQ(static_cast<long long>(lines.size()), pairs + 3);
    EXPECT_EQ(lines[0] + "\n", cli::kHeader);
    EXPECT_EQ(lines[1] + "\n", thresholdLine);
    EXPECT_EQ(lines[2] + "\n", cli::kColumnHeader);

    const double logThreshold = std::log10(threshold);
    long long prunings = 0;
    std::size_t at = 3;
    for (int i = 0; i < ps; ++i) {
        for (int g1 = 0; g1 < ngene; ++g1) {
            for (int g2 = g1 + 1; g2 < ngene; ++g2, ++at) {
                const std::string& line = lines[at];
                SCOPED_TRACE(line);
                const std::vector<std::string> f = cli::split(line, '\t');
                ASSERT_EQ(f.size(), 7u);
                EXPECT_EQ(f[0], std::to_string(i));
                EXPECT_EQ(f[1], std::to_string(g1));
                EXPECT_EQ(f[2], std::to_string(g2));
                ASSERT_TRUE(f[3] == "0" || f[3] == "1" || f[3] == "2");
                const int flag = f[3][0] - '0';
                ++flags.of[flag];
                if (flag != 1)
                    ++prunings;

                EXPECT_TRUE(is_fixed6(f[4]));
                const double logMc = std::strtod(f[4].c_str(), nullptr);
                // Only where the printed rounding cannot decide the comparison.
                if (std::isnan(logMc) || logMc > logThreshold + 1e-5) {
                    EXPECT_EQ(flag, 0);
                } else if (logMc < logThreshold - 1e-5) {
                    EXPECT_NE(flag, 0);
                }

                if (flag == 0) {
                    EXPECT_EQ(f[5], "1.0");
                    EXPECT_EQ(f[6], "1.0");
                    continue;
                }
                EXPECT_TRUE(is_fixed6(f[5]));
                const double lda = std::strtod(f[5].c_str(), nullptr);
                EXPECT_LE(lda, 0.0);
                if (lda < kLdaCutoff - 1e-5) {
                    EXPECT_EQ(flag, 1);
                } else if (lda > kLdaCutoff + 1e-5) {
                    EXPECT_EQ(flag, 2);
                }
                if (flag == 2) {
                    EXPECT_EQ(f[6], "1.0");
                } else {
                    EXPECT_TRUE(is_fixed6(f[6]));
                    EXPECT_FALSE(std::strtod(f[6].c_str(), nullptr) > 0.0);
                }
            }
        }
    }
    EXPECT_TRUE(ends_with(o.run.out, "Running...\n" + count_report(pairs, prunings)))
        << o.run.out;
}

class EndToEnd : public ::testing::TestWithParam<const char*> {
protected:
    std::string binary() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Engines, EndToEnd, ::testing::Values(MORV_BIN, MORV_REFERENCE_BIN),
                         [](const auto& info) {
                             return std::string(info.index == 0 ? "Fast" : "Reference");
                         });

// ---------------------------------------------------------------------------
// Layout and flags on simulated data.

TEST_P(EndToEnd, SimulatedRunsHaveOneWellFormedLinePerPair)
{
    FlagCounts flags;
    for (int seed : {1, 2, 3}) {
        SCOPED_TRACE(seed);
        TempDir dir;
        const cli::RunFiles f = simulate(dir, 40, 3, 7, seed);
        // The scan truncates an existing result file.
        dir.write("out.txt", "stale contents\n");
        check_structure(run_files(binary(), f, "0.5\n"), 3, 7, 0.5, "threshold = 0.500000\n",
                        flags);
    }
    // The data reach every stage of the cascade.
    EXPECT_GT(flags.of[0], 0);
    EXPECT_GT(flags.of[1], 0);
    EXPECT_GT(flags.of[2], 0);
}

struct ThresholdCase {
    const char* input;
    double value;
    std::string line;
    bool allPruned;
};

// How this C library prints log10 of a value: the sign of a NaN it returns
// is the library's own choice. `volatile` keeps the compiler from folding it.
std::string c_library_log10_text(double value)
{
    volatile double v = value;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lf", std::log10(v));
    return buf;
}

TEST_P(EndToEnd, ThresholdLineAndPruning)
{
    const ThresholdCase cases[] = {
        {"0\n", 0.0, "threshold = 0.000000\n", true},
        {"-0.5\n", -0.5, "log10(threshold) = " + c_library_log10_text(-0.5) + "\n", true},
        {"1e-7\n", 1e-7, "log10(threshold) = -7.000000\n", false},
        {"0.000001\n", 1e-6, "threshold = 0.000001\n", false},
        {"0.05\n", 0.05, "threshold = 0.050000\n", false},
        {"1.5\n", 1.5, "threshold = 1.500000\n", false},
    };
    TempDir dir;
    const cli::RunFiles f = simulate(dir, 30, 2, 5, 4);
    for (const ThresholdCase& c : cases) {
        SCOPED_TRACE(c.input);
        FlagCounts flags;
        check_structure(run_files(binary(), f, c.input), 2, 5, c.value, c.line, flags);
        if (c.allPruned) {
            EXPECT_EQ(flags.of[0], 20);
        }
    }
}

// ---------------------------------------------------------------------------
// Known values: inputs whose log10 values are exact, so that the MC and LDA
// statistics are those worked out by hand.

struct KnownCase {
    const char* name;
    std::vector<int> classes;            // one SNP, reference allele A
    std::vector<double> x1, x2;          // log10 expression of genes 0 and 1
    std::string allele;
    std::string threshold;
    std::string line;                    // the single result line; "*" for
                                         // an IT column that is only checked
                                         // for its form
};

void PrintTo(const KnownCase& c, std::ostream* os)
{
    *os << c.name;
}

// Nine samples, three per class: T about 16.1583, MC p-value about 0.09519.
const std::vector<int> kNineClasses{0, 0, 0, 1, 1, 1, 2, 2, 2};
const std::vector<double> kNineX1{1, 2, 3, 3, 4, 5, 0.5, 1.5, 1};
const std::vector<double> kNineX2{2, 1, 4, 5, 4, 6, 0, 1, 3};
// Six samples, two per class: singular class covariances (MC p-value 2)
// and the LDA value about -1.3010551.
const std::vector<int> kSixClasses{0, 0, 1, 1, 2, 2};
const std::vector<double> kSixX1{1, 2, 3, 4, 0.5, 1.5};
const std::vector<double> kSixX2{2, 1, 5, 4, 0, 1};

std::vector<KnownCase> known_cases()
{
    const std::vector<double> flatX1{1, 1, 3, 3, 0.5, 0.5};
    const std::vector<int> noClass2{0, 0, 0, 1, 1, 1};
    const std::vector<double> firstX1(kNineX1.begin(), kNineX1.begin() + 6);
    const std::vector<double> firstX2(kNineX2.begin(), kNineX2.begin() + 6);
    return {
        {"MeanCovarianceExample", kNineClasses, kNineX1, kNineX2, "A\n", "0.05\n",
         "0\t0\t1\t0\t-1.021414\t1.0\t1.0"},
        {"MeanCovarianceExampleAtHigherThreshold", kNineClasses, kNineX1, kNineX2, "A\n",
         "0.09\n", "0\t0\t1\t0\t-1.021414\t1.0\t1.0"},
        // Two samples per class: MC p-value 2, passed only by a threshold above 2.
        {"LdaExample", kSixClasses, kSixX1, kSixX2, "A\n", "3\n",
         "0\t0\t1\t2\t0.301030\t-1.301055\t1.0"},
        {"LdaExampleThresholdEqualToPValue", kSixClasses, kSixX1, kSixX2, "A\n", "2\n",
         "0\t0\t1\t0\t0.301030\t1.0\t1.0"},
        {"LdaExampleUsualThreshold", kSixClasses, kSixX1, kSixX2, "A\n", "0.05\n",
         "0\t0\t1\t0\t0.301030\t1.0\t1.0"},
        // -9999 is below the LDA cut-off, so the interaction test runs.
        {"SingularPooledCovariance", kSixClasses, flatX1, kSixX2, "A\n", "3\n",
         "0\t0\t1\t1\t0.301030\t-9999.000000\t*"},
        // An empty class: MC p-value 1, so a threshold of 1 still prunes.
        {"EmptyClassThresholdEqualToPValue", noClass2, firstX1, firstX2, "A\n", "1\n",
         "0\t0\t1\t0\t0.000000\t1.0\t1.0"},
        // Passed on, the LDA of an empty class gives ln 0.5 per sample.
        {"EmptyClassAboveThreshold", noClass2, firstX1, firstX2, "A\n", "1.5\n",
         "0\t0\t1\t2\t0.000000\t-4.158883\t1.0"},
        // Case matters: no genotype letter equals a lower-case reference.
        {"LowerCaseReferenceMatchesNothing", kNineClasses, kNineX1, kNineX2, "a\n", "0.05\n",
         "0\t0\t1\t0\t0.000000\t1.0\t1.0"},
        // A class of one sample: MC p-value 2.
        {"SingleSampleClass", {0, 0, 0, 1, 1, 1, 2, 1, 1}, kNineX1, kNineX2, "A\n", "0.05\n",
         "0\t0\t1\t0\t0.301030\t1.0\t1.0"},
    };
}

class KnownValues : public ::testing::TestWithParam<std::tuple<const char*, KnownCase>> {};

TEST_P(KnownValues, ResultLineIsExact)
{
    const auto& [binary, c] = GetParam();
    for (double x : c.x1)
        ASSERT_TRUE(cli::exact_log10(x)) << x;
    for (double x : c.x2)
        ASSERT_TRUE(cli::exact_log10(x)) << x;
    TempDir dir;
    const Outcome o = run_texts(binary, dir, cli::one_snp_genotypes(c.classes),
                                cli::expression_from_logs({c.x1, c.x2}), c.allele, c.threshold);
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    const std::vector<std::string> lines = cli::lines_of(o.result);
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::string> got = cli::split(lines[3], '\t');
    const std::vector<std::string> want = cli::split(c.line, '\t');
    ASSERT_EQ(got.size(), want.size()) << lines[3];
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (want[i] == "*")
            EXPECT_TRUE(is_fixed6(got[i]) && !(std::strtod(got[i].c_str(), nullptr) > 0))
                << lines[3];
        else
            EXPECT_EQ(got[i], want[i]) << "field " << i + 1 << " of " << lines[3];
    }
    const bool pruned = want[3] != "1";
    EXPECT_TRUE(ends_with(o.run.out, count_report(1, pruned ? 1 : 0)));
}

INSTANTIATE_TEST_SUITE_P(
    Engines, KnownValues,
    ::testing::Combine(::testing::Values(MORV_BIN, MORV_REFERENCE_BIN),
                       ::testing::ValuesIn(known_cases())),
    [](const auto& info) {
        return std::string(std::get<1>(info.param).name) +
               (std::get<0>(info.param) == std::string(MORV_BIN) ? "_Fast" : "_Reference");
    });

TEST_P(EndToEnd, HeterozygoteOrderDoesNotMatter)
{
    // Class 1 written G,A instead of A,G gives the same line.
    std::string geno;
    for (int c : kNineClasses)
        geno += c == 1 ? "G\tA\n" : cli::genotype_line({c});
    TempDir dir;
    const Outcome o = run_texts(binary(), dir, geno,
                                cli::expression_from_logs({kNineX1, kNineX2}), "A\n", "0.05\n");
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_EQ(cli::lines_of(o.result).back(), "0\t0\t1\t0\t-1.021414\t1.0\t1.0");
}

TEST_P(EndToEnd, UnderflowingPValuePrintsMinusInfinity)
{
    // Ninety samples; within each class gene 1 follows gene 0 up to 1e-6,
    // with a different offset per class: T about 2260, beyond the range
    // where the chi-squared tail is representable, below the cap.
    std::vector<int> classes;
    std::vector<double> x1, x2;
    const double offsets[3] = {0.0, 0.5, -0.5};
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 30; ++i) {
            classes.push_back(k);
            x1.push_back(1 + 0.05 * i);
            x2.push_back(1 + 0.05 * i + offsets[k] + 1e-6 * ((i * 7) % 5 - 2));
        }
    }
    TempDir dir;
    const Outcome o = run_texts(binary(), dir, cli::one_snp_genotypes(classes),
                                cli::expression_from_logs({x1, x2}), "A\n", "0.05\n");
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    const std::vector<std::string> f = cli::split(cli::lines_of(o.result).back(), '\t');
    ASSERT_EQ(f.size(), 7u);
    EXPECT_EQ(f[4], "-inf");
    EXPECT_NE(f[3], "0");
}

TEST_P(EndToEnd, NonPositiveExpressionGivesPValueOne)
{
    std::string expr = "1 10 100 10 1 100 10 100 1\n";
    expr += "0 10 100 1000 10 100 -5 10 100\n";
    TempDir dir;
    const Outcome o =
        run_texts(binary(), dir, cli::one_snp_genotypes(kNineClasses), expr, "A\n", "0.05\n");
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_EQ(cli::lines_of(o.result).back(), "0\t0\t1\t0\t0.000000\t1.0\t1.0");
}

// ---------------------------------------------------------------------------
// Fewer than two genes: no pairs, but the allele file is still read for
// every SNP.

TEST_P(EndToEnd, FewerThanTwoGenesWriteTheHeaderOnly)
{
    const std::string geno =
        std::string("A\tC\tG\tT\n") + "A\tA\tG\tG\n" + "C\tC\tT\tT\n";
    for (const std::string expr : {"", "1 2 3\n"}) {
        SCOPED_TRACE(expr);
        TempDir dir;
        const Outcome ok = run_texts(binary(), dir, geno, expr, "A\nG\n", "0.05\n");
        EXPECT_EQ(ok.run.status, 0);
        EXPECT_EQ(ok.run.err, "");
        EXPECT_TRUE(ends_with(ok.run.out, "Running...\n" + count_report(0, 0)));
        EXPECT_EQ(ok.result, cli::kHeader + "threshold = 0.050000\n" + cli::kColumnHeader);

        const Outcome bad = run_texts(binary(), dir, geno, expr, "A\nX\n", "0.05\n");
        EXPECT_EQ(bad.run.status, 1);
        EXPECT_EQ(bad.run.err, "Error: Invalid data in allele data.\n");
        EXPECT_TRUE(ends_with(bad.run.out, "Running...\n"));
        EXPECT_EQ(bad.result, ok.result);
    }
}

// ---------------------------------------------------------------------------
// Failures around the result file.

TEST_P(EndToEnd, AlleleFaultKeepsTheEarlierSnpsLines)
{
    TempDir dir;
    const cli::RunFiles f = simulate(dir, 30, 3, 6, 5);
    const Outcome good = run_files(binary(), f, "0.5\n");
    ASSERT_EQ(good.run.status, 0);

    std::vector<std::string> alleles = cli::lines_of(testsupport::read_file(f.allele));
    ASSERT_EQ(alleles.size(), 3u);
    const std::string badAllele = dir.write("bad.allele", alleles[0] + "\n" + alleles[1] +
                                                              "\nN\n");
    const Outcome bad = run_files(binary(), {f.genotype, f.expression, badAllele, f.output},
                                  "0.5\n");
    EXPECT_EQ(bad.run.status, 1);
    EXPECT_EQ(bad.run.err, "Error: Invalid data in allele data.\n");
    EXPECT_TRUE(ends_with(bad.run.out, "Running...\n"));
    EXPECT_EQ(bad.run.out.find("#pairs"), std::string::npos);
    // Header and the 15 pairs of each of SNPs 0 and 1, as in the good run.
    const std::vector<std::string> goodLines = cli::lines_of(good.result);
    const std::vector<std::string> prefix(goodLines.begin(), goodLines.begin() + 3 + 30);
    EXPECT_EQ(cli::lines_of(bad.result), prefix);
}

TEST_P(EndToEnd, FailedResultLineWriteIsReported)
{
    TempDir dir;
    const cli::RunFiles f = simulate(dir, 20, 2, 10, 3);
    const Outcome good = run_files(binary(), f, "0.5\n");
    ASSERT_EQ(good.run.status, 0);
    ASSERT_GT(good.result.size(), 1024u);

    // A file size limit of 1024 bytes (two blocks of the POSIX shell), with
    // the limit's signal ignored so that the write itself fails; the header
    // fits, the 90 result lines do not.
    const std::string script = "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\"";
    const RunResult r = testsupport::run(
        "/bin/sh",
        {"sh", "-c", script, binary(), "-g", f.genotype, "-e", f.expression, "-a", f.allele,
         "-o", f.output},
        "0.5\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Cannot write the output file.\n");
    EXPECT_TRUE(ends_with(r.out, "Running...\n"));
    const std::string written = testsupport::read_file(f.output);
    EXPECT_EQ(written.size(), 1024u);
    EXPECT_EQ(good.result.compare(0, written.size(), written), 0);
}

}  // namespace
