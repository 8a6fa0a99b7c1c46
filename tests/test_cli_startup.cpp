// Start-up of the built program seen from outside: options, file checks, the
// threshold prompt, the report on standard output, and every fatal input
// error up to the allele lookups of the scan. Output is compared byte for
// byte.
#include "tests/cli_helpers.hpp"
#include "tests/support.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::RunResult;
using testsupport::TempDir;

// Small valid inputs: 6 samples, 2 SNPs, 3 genes. Every sample is
// heterozygous at both SNPs, so two classes are empty and every pair gets
// the MC p-value 1 (flag 0, field 5 "0.000000").
std::string repeat(const std::string& line, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += line;
    return text;
}
const std::string kGenotypes = repeat("A\tC\tG\tT\n", 6);
// Gene 0 shows the echo's six significant digits and exponent notation.
const std::string kExpressions =
    "5.12 1234567 0.000012345 2 3 4\n"
    "1 2 3 4 5 6\n"
    "6 5 4 3 2 1\n";
const std::string kAlleles = "A\nG\n";
const std::string kGenoEcho = "ACGT";
const std::string kExprEcho = "5.12 1.23457e+06 1.2345e-05";

// Replaces {g}, {e}, {a}, {o} and {dir} with the run's paths.
std::string fill(std::string text, const std::map<std::string, std::string>& vars)
{
    for (const auto& [key, value] : vars) {
        const std::string token = "{" + key + "}";
        for (auto at = text.find(token); at != std::string::npos;
             at = text.find(token, at + value.size()))
            text.replace(at, token.size(), value);
    }
    return text;
}

struct Paths {
    std::map<std::string, std::string> vars;
};

Paths write_defaults(const TempDir& dir, const std::string& geno = kGenotypes,
                     const std::string& expr = kExpressions,
                     const std::string& allele = kAlleles)
{
    const cli::RunFiles f = cli::write_inputs(dir, geno, expr, allele);
    return {{{"g", f.genotype}, {"e", f.expression}, {"a", f.allele}, {"o", f.output},
             {"dir", dir.path()}}};
}

RunResult run_args(const Paths& p, const std::vector<std::string>& args, const std::string& in)
{
    std::vector<std::string> argv{cli::kProgram};
    for (const auto& a : args)
        argv.push_back(fill(a, p.vars));
    return testsupport::run(MORV_BIN, argv, in);
}

const std::vector<std::string> kAllFiles{"-g", "{g}", "-e", "{e}", "-a", "{a}", "-o", "{o}"};

// ---------------------------------------------------------------------------
// Command line, file checks and threshold: the run ends before any input is
// measured.

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::string err;
    int status;
};

std::vector<CommandLineCase> command_line_cases()
{
    const std::string usage = cli::usage_line();
    const std::string argsLine = "# of arguments: 0\n";
    const std::string prompt = argsLine + "threshold of MC test's pvalue?: ";
    const std::string help = "HELP\n" + usage;
    const std::string wrong = "Error: Wrong number of arguments.\n" + usage;
    auto specify = [&](const char* what) {
        return "Error: Specify \"" + std::string(what) + "\"\n" + usage;
    };
    auto notFound = [](const std::string& path) {
        return "Error: File \"" + path + "\" not found.\n";
    };
    return {
        {"HelpAlone", {"-h"}, "", "", help, 0},
        {"HelpWithValidOptions",
         {"-g", "{g}", "-e", "{e}", "-h", "-a", "{a}", "-o", "{o}"}, "0.05\n", "", help, 0},
        {"HelpIgnoresLaterOptions", {"-h", "-x", "stray"}, "", "", help, 0},
        {"UnknownOption", {"-x"}, "", "", "morv: invalid option -- 'x'\n" + usage, 1},
        {"UnknownOptionAmongValidOnes",
         {"-g", "{g}", "-e", "{e}", "-q", "-a", "{a}", "-o", "{o}"}, "0.05\n", "",
         "morv: invalid option -- 'q'\n" + usage, 1},
        {"OptionWithoutArgument",
         {"-g", "{g}", "-e", "{e}", "-a", "{a}", "-o"}, "0.05\n", "",
         "morv: option requires an argument -- 'o'\n" + usage, 1},
        {"StrayWord",
         {"-g", "{g}", "-e", "{e}", "stray", "-a", "{a}", "-o", "{o}"}, "0.05\n", "", wrong, 1},
        {"StrayWordBeforeAnyFileIsOpened",
         {"-g", "{dir}/none", "-e", "{dir}/none", "-a", "{dir}/none", "-o", "{o}", "{g}"},
         "0.05\n", "", wrong, 1},
        {"NoArguments", {}, "", argsLine, specify("-g filenameG"), 1},
        {"MissingExpression", {"-g", "{g}", "-a", "{a}", "-o", "{o}"}, "0.05\n", argsLine,
         specify("-e filenameE"), 1},
        {"MissingAllele", {"-g", "{g}", "-e", "{e}", "-o", "{o}"}, "0.05\n", argsLine,
         specify("-a filenameA"), 1},
        {"MissingOutput", {"-g", "{g}", "-e", "{e}", "-a", "{a}"}, "0.05\n", argsLine,
         specify("-o filenameO"), 1},
        {"EmptyGenotypeArgument", {"-g", "", "-e", "{e}", "-a", "{a}", "-o", "{o}"}, "0.05\n",
         argsLine, specify("-g filenameG"), 1},
        {"EmptyOutputArgument", {"-g", "{g}", "-e", "{e}", "-a", "{a}", "-o", ""}, "0.05\n",
         argsLine, specify("-o filenameO"), 1},
        {"FirstMissingInOrderIsReported", {"-o", "{o}", "-g", "{g}"}, "0.05\n", argsLine,
         specify("-e filenameE"), 1},
        {"GenotypeNotFound",
         {"-g", "no such dir/g.txt", "-e", "{e}", "-a", "{a}", "-o", "{o}"}, "0.05\n", argsLine,
         notFound("no such dir/g.txt"), 1},
        {"ExpressionNotFound",
         {"-g", "{g}", "-e", "{dir}/e2.txt", "-a", "{a}", "-o", "{o}"}, "0.05\n", argsLine,
         notFound("{dir}/e2.txt"), 1},
        {"AlleleNotFound",
         {"-g", "{g}", "-e", "{e}", "-a", "{dir}/a2.txt", "-o", "{o}"}, "0.05\n", argsLine,
         notFound("{dir}/a2.txt"), 1},
        {"FirstUnopenableInOrderIsReported",
         {"-a", "{dir}/a2.txt", "-e", "{dir}/e2.txt", "-g", "{g}", "-o", "{o}"}, "0.05\n",
         argsLine, notFound("{dir}/e2.txt"), 1},
        {"ThresholdMissing", kAllFiles, "", prompt, "Error: Aborted due to input error.\n", 1},
        {"ThresholdBlankOnly", kAllFiles, " \n\n", prompt,
         "Error: Aborted due to input error.\n", 1},
        {"ThresholdLetters", kAllFiles, "abc\n", prompt,
         "Error: Aborted due to input error.\n", 1},
    };
}

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, PrintsExactlyAndEndsWithStatus)
{
    const CommandLineCase& c = GetParam();
    TempDir dir;
    const Paths p = write_defaults(dir);
    const std::string before = "existing result\n";
    dir.write("out.txt", before);

    const RunResult r = run_args(p, c.args, c.input);
    EXPECT_EQ(r.out, fill(c.out, p.vars));
    EXPECT_EQ(r.err, fill(c.err, p.vars));
    EXPECT_EQ(r.status, c.status);
    // Nothing is written to the result file before the scan starts.
    EXPECT_EQ(testsupport::read_file(p.vars.at("o")), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLine, ::testing::ValuesIn(command_line_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Complete runs: the whole standard output, including the echo lines on data
// smaller than they were meant for.

struct RunCase {
    const char* name;
    std::string geno, expr, allele;
    std::vector<std::string> args;  // empty: the four file options
    std::string input;
    int ps, ngene, n;
    std::string genoEcho, exprEcho;
    std::string thresholdLine;
};

std::vector<RunCase> run_cases()
{
    const std::string t005 = "threshold = 0.050000\n";
    const std::string oneSnp = repeat("A\tC\n", 6);
    const std::string expr1 = "5.12\n7\n8\n";
    const std::string expr2 = "5.12 0.5\n7 8\n9 10\n";
    return {
        {"Normal", kGenotypes, kExpressions, kAlleles, {}, "0.05\n", 2, 3, 6, kGenoEcho,
         kExprEcho, t005},
        {"ThresholdWithTrailingLetters", kGenotypes, kExpressions, kAlleles, {}, "0.05xyz", 2,
         3, 6, kGenoEcho, kExprEcho, t005},
        {"ThresholdAfterBlankLines", kGenotypes, kExpressions, kAlleles, {}, "\n\n  0.05\n", 2,
         3, 6, kGenoEcho, kExprEcho, t005},
        {"ThresholdInExponentForm", kGenotypes, kExpressions, kAlleles, {}, "5e-2\n", 2, 3, 6,
         kGenoEcho, kExprEcho, t005},
        {"RepeatedOptionReplacesEarlierValue", kGenotypes, kExpressions, kAlleles,
         {"-g", "{dir}/none", "-e", "{e}", "-a", "{a}", "-o", "{o}", "-g", "{g}"}, "0.05\n", 2,
         3, 6, kGenoEcho, kExprEcho, t005},
        {"OneSnpEchoesTwoAlleles", oneSnp, kExpressions, "A\n", {}, "0.05\n", 1, 3, 6, "AC",
         kExprEcho, t005},
        {"OneSampleEchoesOneValue", "A\tC\tG\tT\n", expr1, kAlleles, {}, "0.05\n", 2, 3, 1,
         "ACGT", "5.12", t005},
        {"TwoSamplesEchoTwoValues", repeat("A\tC\tG\tT\n", 2), expr2, kAlleles, {}, "0.05\n",
         2, 3, 2, "ACGT", "5.12 0.5", t005},
        {"NoGenes", kGenotypes, "", kAlleles, {}, "0.05\n", 2, 0, 6, kGenoEcho, "", t005},
        {"OneGene", kGenotypes, "5.12 1234567 0.000012345 2 3 4\n", kAlleles, {}, "0.05\n", 2,
         1, 6, kGenoEcho, kExprEcho, t005},
        // No samples: no SNPs either, so the allele file is never read.
        {"NoSamples", "", "", "not an allele\n", {}, "0.05\n", 0, 0, 0, "", "", t005},
        // With no samples the expression scan reads one byte per line.
        {"NoSamplesCountsExpressionBytes", "", "ab\n", "", {}, "0.05\n", 0, 3, 0, "", "",
         t005},
    };
}

class CompleteRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(CompleteRun, PrintsTheWholeReport)
{
    const RunCase& c = GetParam();
    TempDir dir;
    const Paths p = write_defaults(dir, c.geno, c.expr, c.allele);
    const RunResult r = run_args(p, c.args.empty() ? kAllFiles : c.args, c.input);

    const auto& v = p.vars;
    const long long pairs = static_cast<long long>(c.ps) * c.ngene * (c.ngene - 1) / 2;
    EXPECT_EQ(r.out, cli::report_until_size(v.at("g"), v.at("e"), v.at("a"), v.at("o")) +
                         cli::count_lines(c.ps, c.ngene, c.n) +
                         cli::echo_lines(c.genoEcho, c.exprEcho) +
                         cli::final_counts(pairs, pairs));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // Every pair of these inputs has an empty class: MC p-value 1, flag 0.
    std::string expected = cli::kHeader + c.thresholdLine + cli::kColumnHeader;
    for (int i = 0; i < c.ps; ++i)
        for (int a = 0; a < c.ngene; ++a)
            for (int b = a + 1; b < c.ngene; ++b)
                expected += std::to_string(i) + "\t" + std::to_string(a) + "\t" +
                            std::to_string(b) + "\t0\t0.000000\t1.0\t1.0\n";
    EXPECT_EQ(testsupport::read_file(v.at("o")), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompleteRun, ::testing::ValuesIn(run_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Faults in the genotype and expression files: reported at the stage that
// finds them, with standard output stopping right there.

enum class Stage { Measuring, LoadingExpressions };

struct DataFaultCase {
    const char* name;
    std::string geno, expr;
    std::string gArg, eArg;  // the -g and -e arguments
    Stage stage;
    int ngene;               // the count printed before loading fails
    std::string err;
};

std::string first_line_too_long()
{
    // 4,000,004 characters with no two equal neighbours.
    return repeat("A\tC\t", 1000001) + "\n" + repeat("A\tC\t", 1000001) + "\n";
}

std::vector<DataFaultCase> data_fault_cases()
{
    const std::string g = "{g}", e = "{e}";
    const std::string lengthMsg = "Error: Invalid format in genome data\n";
    const std::string exprFormat = "Error: Invalid format in expression data.\n";
    return {
        {"EqualNeighboursInFirstLine", "AA\tC\tG\n" + repeat("A\tC\tG\tT\n", 5), kExpressions,
         g, e, Stage::Measuring, 0, "Error: Invalid format in genome data.\n"},
        {"TwoTabsInFirstLine", "A\t\tC\tG\n" + repeat("A\tC\tG\tT\n", 5), kExpressions, g, e,
         Stage::Measuring, 0, "Error: Invalid format in genome data.\n"},
        {"FirstLineTooLong", first_line_too_long(), kExpressions, g, e, Stage::Measuring, 0,
         "Error: Absorted due to input error (genome data).\n"},
        {"ShorterLaterLine", repeat("A\tC\tG\tT\n", 3) + "A\tC\tG\n" + repeat("A\tC\tG\tT\n", 2),
         kExpressions, g, e, Stage::Measuring, 0, lengthMsg},
        {"BlankLineAfterLastSample", kGenotypes + "\n", kExpressions, g, e, Stage::Measuring, 0,
         lengthMsg},
        {"BadAlleleLetter", repeat("A\tC\tG\tT\n", 4) + "A\tC\tG\tN\n" + "A\tC\tG\tT\n",
         kExpressions, g, e, Stage::Measuring, 0,
         "Error: Invalid data or format in genome data\n"},
        {"GenotypeReadError", kGenotypes, kExpressions, "{dir}", e, Stage::Measuring, 0,
         "Error: Aborted due to input error (genome data).\n"},
        {"ExpressionReadError", kGenotypes, kExpressions, g, "{dir}", Stage::Measuring, 0,
         "Error: Aborted due to input error (expression data).\n"},
        {"ExpressionNotANumber", kGenotypes, "5.12 1 2 3 4 5\n1 NA 3 4 5 6\n6 5 4 3 2 1\n", g,
         e, Stage::LoadingExpressions, 3, "Error: Invalid data in expressions\n"},
        {"ExpressionTooFewValues", kGenotypes, "5.12 1 2 3 4 5\n1 2 3 4 5 6\n6 5 4 3 2\n", g,
         e, Stage::LoadingExpressions, 3, exprFormat},
        {"ExpressionExtraValue", kGenotypes, "5.12 1 2 3 4 5\n1 2 3 4 5 6\n6 5 4 3 2 1 0\n", g,
         e, Stage::LoadingExpressions, 3, exprFormat},
        {"ExpressionBlankLastLine", kGenotypes, kExpressions + "\n", g, e,
         Stage::LoadingExpressions, 4, exprFormat},
    };
}

class DataFault : public ::testing::TestWithParam<DataFaultCase> {};

TEST_P(DataFault, IsReportedWhereItIsFound)
{
    const DataFaultCase& c = GetParam();
    TempDir dir;
    const Paths p = write_defaults(dir, c.geno, c.expr, kAlleles);
    const std::vector<std::string> args{"-g", c.gArg, "-e", c.eArg, "-a", "{a}", "-o", "{o}"};
    const RunResult r = run_args(p, args, "0.05\n");

    const auto& v = p.vars;
    std::string out = cli::report_until_size(fill(c.gArg, v), fill(c.eArg, v), v.at("a"),
                                             v.at("o"));
    if (c.stage == Stage::LoadingExpressions)
        out += cli::count_lines(2, c.ngene, 6) + "read genotypes... " + kGenoEcho +
               "...\nread expressions... ";
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(testsupport::file_exists(v.at("o")));
}

INSTANTIATE_TEST_SUITE_P(Cases, DataFault, ::testing::ValuesIn(data_fault_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Faults in the allele file: found only when the scan reaches the SNP, after
// the earlier SNPs' lines are in the result file.

struct AlleleFaultCase {
    const char* name;
    std::string allele;
    bool alleleIsDirectory;
    int goodSnps;  // SNPs whose lines precede the fault
    std::string err;
};

std::vector<AlleleFaultCase> allele_fault_cases()
{
    const std::string invalidData = "Error: Invalid data in allele data.\n";
    return {
        {"InvalidLetter", "A\nG\nN\n", false, 2, invalidData},
        {"OverlongLine", "A\nG\nCCCCC\n", false, 2, "Error: Invalid format in allele data.\n"},
        {"EmptyLine", "A\nG\n\n", false, 2, invalidData},
        {"ShortFile", "A\nG\n", false, 2, invalidData},
        {"EmptyFile", "", false, 0, invalidData},
        {"FaultAtSecondSnp", "A\n?\nC\n", false, 1, invalidData},
        {"ReadError", "", true, 0, "Error: Aborted due to input error (allele data).\n"},
    };
}

class AlleleFault : public ::testing::TestWithParam<AlleleFaultCase> {};

TEST_P(AlleleFault, StopsTheScanAtThatSnp)
{
    const AlleleFaultCase& c = GetParam();
    TempDir dir;
    const std::string geno = repeat("A\tC\tG\tT\tC\tA\n", 6);
    const Paths p = write_defaults(dir, geno, kExpressions, c.allele);
    std::vector<std::string> args = kAllFiles;
    if (c.alleleIsDirectory)
        args[5] = "{dir}";
    const RunResult r = run_args(p, args, "0.05\n");

    const auto& v = p.vars;
    EXPECT_EQ(r.out, cli::report_until_size(v.at("g"), v.at("e"), fill(args[5], v), v.at("o")) +
                         cli::count_lines(3, 3, 6) + cli::echo_lines(kGenoEcho, kExprEcho) +
                         "Running...\n");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, 1);

    std::string expected = cli::kHeader + "threshold = 0.050000\n" + cli::kColumnHeader;
    for (int i = 0; i < c.goodSnps; ++i)
        for (const char* pair : {"0\t1", "0\t2", "1\t2"})
            expected += std::to_string(i) + "\t" + pair + "\t0\t0.000000\t1.0\t1.0\n";
    EXPECT_EQ(testsupport::read_file(v.at("o")), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, AlleleFault, ::testing::ValuesIn(allele_fault_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
