// Dimension scan and loaders of the genotype and expression files.
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"
#include "io/matrices.hpp"
#include "tests/support.hpp"

namespace {

using testsupport::TempDir;

// A string literal with its embedded NUL bytes, without the terminator.
template <std::size_t N>
std::string bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

// A death-test pattern that matches exactly `message` and its newline.
std::string exactly(const std::string& message)
{
    std::string pattern = "^";
    for (char c : message) {
        if (std::string(".^$|()[]{}*+?\\").find(c) != std::string::npos)
            pattern += '\\';
        pattern += c;
    }
    return pattern + "\n$";
}

const std::string kGenomeFormat = "Error: Invalid format in genome data";
const std::string kGenomeNeighbours = "Error: Invalid format in genome data.";
const std::string kGenomeData = "Error: Invalid data or format in genome data";
const std::string kGenomeTooLong = "Error: Absorted due to input error (genome data).";
const std::string kExpressionData = "Error: Invalid data in expressions";
const std::string kExpressionFormat = "Error: Invalid format in expression data.";

// Rows of G as strings of 2*ps characters.
std::vector<std::string> rows_of(const GenotypeMatrix& G)
{
    std::vector<std::string> rows;
    for (std::size_t s = 0; s < G.size1(); ++s) {
        std::string row;
        for (std::size_t j = 0; j < G.size2(); ++j)
            row += G(s, j);
        rows.push_back(row);
    }
    return rows;
}

GenotypeMatrix load_genotype(const std::string& path)
{
    GenotypeMatrix G(n, 2 * ps);
    read_genotype(G, path.c_str());
    return G;
}

ExpressionMatrix load_expression(const std::string& path)
{
    ExpressionMatrix E(n, ngene);
    read_expression(E, path.c_str());
    return E;
}

// The whole start-up sequence of the input files: scan, then both loads.
void scan_and_load(const std::string& genotype, const std::string& expression)
{
    get_parmeters(genotype.c_str(), expression.c_str());
    load_genotype(genotype);
    load_expression(expression);
}

struct GoodGenotype {
    const char* name;
    std::string content;
    int ps;
    std::vector<std::string> rows;
};

class GoodGenotypeTest : public ::testing::TestWithParam<GoodGenotype> {};

TEST_P(GoodGenotypeTest, ScansAndLoads)
{
    const GoodGenotype& c = GetParam();
    TempDir dir;
    const std::string g = dir.write("g.txt", c.content);
    const std::string e = dir.write("e.txt", "1\n");
    get_parmeters(g.c_str(), e.c_str());
    EXPECT_EQ(ps, c.ps);
    EXPECT_EQ(n, static_cast<int>(c.rows.size()));
    EXPECT_EQ(rows_of(load_genotype(g)), c.rows);
}

const GoodGenotype kGoodGenotypes[] = {
    {"TabsWithoutTrailing", "A\tC\tG\tT\nC\tC\tA\tG\n", 2, {"ACGT", "CCAG"}},
    {"TabsWithTrailing", "A\tC\tG\tT\t\nC\tC\tA\tG\t\n", 2, {"ACGT", "CCAG"}},
    {"ExtraCharacterIgnored", "A\tC\tG\tT\tx\nC\tC\tA\tG\ty\n", 2, {"ACGT", "CCAG"}},
    {"CarriageReturnLineEnds", "A\tC\tG\tT\r\nC\tC\tA\tG\r\n", 2, {"ACGT", "CCAG"}},
    {"BlankSeparators", "A C G T\nT G C A\n", 2, {"ACGT", "TGCA"}},
    {"LowerCaseKept", "a\tC\tg\tt\nC\tc\tA\tG\n", 2, {"aCgt", "CcAG"}},
    {"LastLineWithoutNewline", "A\tC\tG\tT\nC\tC\tA\tG", 2, {"ACGT", "CCAG"}},
    {"LastLineWithoutNewlineLonger", "A\tC\tG\tT\nC\tC\tA\tG\t\tzz", 2, {"ACGT", "CCAG"}},
    // Only the first line is tested for equal neighbours.
    {"EqualNeighboursAfterFirstLine", "A\tC\tG\tT\nAACCGGT\n", 2, {"ACGT", "ACGT"}},
    {"NulSeparators", bytes("A\0C\nG\0T\n"), 1, {"AC", "GT"}},
    {"NulInLastLineWithoutNewline", bytes("A\tC\nG\0T"), 1, {"AC", "GT"}},
    {"EmptyFirstLine", "\n\n", 0, {"", ""}},
    {"EmptyFile", "", 0, {}},
};

INSTANTIATE_TEST_SUITE_P(Formats, GoodGenotypeTest, ::testing::ValuesIn(kGoodGenotypes),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadGenotype {
    const char* name;
    std::string content;
    std::string message;
};

class BadGenotypeTest : public ::testing::TestWithParam<BadGenotype> {};

TEST_P(BadGenotypeTest, Rejected)
{
    const BadGenotype& c = GetParam();
    TempDir dir;
    const std::string g = dir.write("g.txt", c.content);
    // The genotype file is judged before the expression file is opened.
    const std::string e = dir.file("missing.txt");
    EXPECT_EXIT(get_parmeters(g.c_str(), e.c_str()), ::testing::ExitedWithCode(1),
                exactly(c.message));
}

const BadGenotype kBadGenotypes[] = {
    {"OneLineWithoutNewline", "A\tC\tG\tT", kGenomeNeighbours},
    {"LastLineShorterWithoutNewline", "A\tC\tG\tT\t\nA\tC\tG\tT", kGenomeData},
    {"LastLineMuchShorterWithoutNewline", "A\tC\tG\tT\nA\tC", kGenomeData},
    {"AdjacentEqualLetters", "A\tC\tGG\tT\n", kGenomeNeighbours},
    {"TwoTabsInARow", "A\t\tC\n", kGenomeNeighbours},
    {"NeighboursBeforeBadLetter", "N\tC\tGG\n", kGenomeNeighbours},
    {"BlankLineAfterSamples", "A\tC\tG\tT\nC\tC\tA\tG\n\n", kGenomeFormat},
    {"LongerLine", "A\tC\nA\tC\t\n", kGenomeFormat},
    {"ShorterLine", "A\tC\t\nA\tC\n", kGenomeFormat},
    // The previous line's newline still sits at position L in the buffer.
    {"ShortLineOverStaleBuffer", "A\tC\t\nA\n", kGenomeFormat},
    {"ShortLineWithNul", bytes("A\tC\t\nA\0\n"), kGenomeFormat},
    {"NewlineAtAllelePosition", "A\tC\tG\t\n", kGenomeData},
    {"MissingGenotypeCode", "A\tN\n", kGenomeData},
};

INSTANTIATE_TEST_SUITE_P(Formats, BadGenotypeTest, ::testing::ValuesIn(kBadGenotypes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GenotypeScan, RejectsBadLetterAtEveryAllelePositionOfEveryLine)
{
    TempDir dir;
    const std::string e = dir.write("e.txt", "1\n");
    const std::string good = "A\tC\tG\tT\t\n";
    for (int line = 0; line < 3; ++line) {
        for (int position : {0, 2, 4, 6}) {
            for (char bad : {'N', '0', 'U', '\0'}) {
                std::vector<std::string> lines(3, good);
                lines[line][position] = bad;
                const std::string g = dir.write("g.txt", lines[0] + lines[1] + lines[2]);
                SCOPED_TRACE("line " + std::to_string(line) + " position " +
                             std::to_string(position) + " char " + std::to_string(bad));
                EXPECT_EXIT(get_parmeters(g.c_str(), e.c_str()), ::testing::ExitedWithCode(1),
                            exactly(kGenomeData));
            }
        }
    }
}

// "A\tC\t" repeated: 4 characters per SNP, no equal neighbours.
std::string long_line(std::size_t characters)
{
    std::string line;
    line.reserve(characters + 1);
    while (line.size() < characters)
        line += "A\tC\t"[line.size() % 4];
    return line;
}

TEST(GenotypeScan, AcceptsFirstLineOfFourMillionCharacters)
{
    TempDir dir;
    const std::string g = dir.write("g.txt", long_line(4000000) + "\n");
    const std::string e = dir.write("e.txt", "1\n");
    get_parmeters(g.c_str(), e.c_str());
    EXPECT_EQ(ps, 1000000);
    EXPECT_EQ(n, 1);
    const GenotypeMatrix G = load_genotype(g);
    EXPECT_EQ(G(0, 0), 'A');
    EXPECT_EQ(G(0, 1999999), 'C');
}

TEST(GenotypeScan, RejectsFirstLineLongerThanFourMillionCharacters)
{
    TempDir dir;
    const std::string e = dir.write("e.txt", "1\n");
    for (std::size_t characters : {std::size_t(4000001), std::size_t(4000005)}) {
        for (const char* end : {"\n", ""}) {
            const std::string g = dir.write("g.txt", long_line(characters) + end);
            EXPECT_EXIT(get_parmeters(g.c_str(), e.c_str()), ::testing::ExitedWithCode(1),
                        exactly(kGenomeTooLong));
        }
    }
}

TEST(GenotypeScan, ReportsFilesThatDoNotOpen)
{
    TempDir dir;
    const std::string g = dir.write("g.txt", "A\tC\n");
    const std::string missing = dir.file("missing.txt");
    EXPECT_EXIT(get_parmeters(missing.c_str(), missing.c_str()), ::testing::ExitedWithCode(1),
                exactly("Error: Cannot open the genome file."));
    EXPECT_EXIT(get_parmeters(g.c_str(), missing.c_str()), ::testing::ExitedWithCode(1),
                exactly("Error: Cannot open the expression file."));
}

struct GeneCount {
    const char* name;
    std::string genotype;
    std::string expression;
    int ngene;
};

class GeneCountTest : public ::testing::TestWithParam<GeneCount> {};

TEST_P(GeneCountTest, CountsReads)
{
    const GeneCount& c = GetParam();
    TempDir dir;
    const std::string g = dir.write("g.txt", c.genotype);
    const std::string e = dir.write("e.txt", c.expression);
    get_parmeters(g.c_str(), e.c_str());
    EXPECT_EQ(ngene, c.ngene);
}

const std::string kThreeSamples = "A\tC\nG\tT\nA\tA\n";

const GeneCount kGeneCounts[] = {
    {"OneLinePerGene", kThreeSamples, "1 2 3\n4 5 6\n", 2},
    {"LastLineWithoutNewline", kThreeSamples, "1 2 3\n4 5 6", 2},
    {"BlankLastLineIsAGene", kThreeSamples, "1 2 3\n\n", 2},
    // With n = 3 a read takes at most 31*3 + 1 = 94 characters.
    {"NinetyThreeCharacters", kThreeSamples, std::string(93, '1') + "\n", 1},
    {"NinetyFourCharacters", kThreeSamples, std::string(94, '1') + "\n", 2},
    // No samples: one character per read, so every byte is a gene.
    {"EmptyGenotypeFile", "", "1 2\n3 4\n", 8},
    {"EmptyExpressionFile", kThreeSamples, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Formats, GeneCountTest, ::testing::ValuesIn(kGeneCounts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GenotypeLoad, LeavesMissingRowsZeroWhenTheFileShrank)
{
    TempDir dir;
    const std::string g = dir.write("g.txt", "A\tC\nG\tT\n");
    ps = 1;
    n = 4;
    EXPECT_EQ(rows_of(load_genotype(g)),
              (std::vector<std::string>{"AC", "GT", std::string(2, '\0'), std::string(2, '\0')}));
}

TEST(GenotypeLoad, ReportsFileThatDoesNotOpen)
{
    TempDir dir;
    ps = 1;
    n = 1;
    EXPECT_EXIT(load_genotype(dir.file("missing.txt")), ::testing::ExitedWithCode(1),
                exactly("Error: Cannot open the genome file."));
}

struct GoodExpression {
    const char* name;
    std::string content;
    std::vector<double> values;  // in file order: gene-major
};

class GoodExpressionTest : public ::testing::TestWithParam<GoodExpression> {};

TEST_P(GoodExpressionTest, LoadsTransposed)
{
    const GoodExpression& c = GetParam();
    TempDir dir;
    const std::string e = dir.write("e.txt", c.content);
    // Set directly: the scan would count the trailing blank lines as genes.
    n = 3;
    ngene = static_cast<int>(c.values.size() / 3);
    const ExpressionMatrix E = load_expression(e);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
        const double got = E(i % n, i / n);
        if (std::isnan(c.values[i]))
            EXPECT_TRUE(std::isnan(got)) << "value " << i;
        else
            EXPECT_EQ(got, c.values[i]) << "value " << i;
    }
}

const double kInf = INFINITY;
const double kNaN = NAN;

const GoodExpression kGoodExpressions[] = {
    {"OneLinePerGene", "5.12 4.8 6.25\n1 2 3\n", {5.12, 4.8, 6.25, 1, 2, 3}},
    // Line boundaries do not matter, only the total.
    {"UnevenLines", "5.12 4.8 6.25 1\n2 3\n", {5.12, 4.8, 6.25, 1, 2, 3}},
    {"TrailingWhiteSpace", "1\t2 3\n4 5 6 \n\n \t\n", {1, 2, 3, 4, 5, 6}},
    {"NumberForms", "1e2 -inf nan\n.5 +3 0x1p3\n", {100, -kInf, kNaN, 0.5, 3, 8}},
    // Zero and negative values are loaded without a word.
    {"ZeroAndNegative", "0 -1 2\n3 4 5\n", {0, -1, 2, 3, 4, 5}},
};

INSTANTIATE_TEST_SUITE_P(Formats, GoodExpressionTest, ::testing::ValuesIn(kGoodExpressions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(InputLoading, PrintsNothingOnGoodInput)
{
    TempDir dir;
    const std::string g = dir.write("g.txt", "A;C|G~T\nC;C|A~G\nG;G|A~a\n");
    const std::string e = dir.write("e.txt", "0 -1 2\n3 4 5\n");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    scan_and_load(g, e);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

struct BadExpression {
    const char* name;
    std::string content;  // for three samples
    std::string message;
};

class BadExpressionTest : public ::testing::TestWithParam<BadExpression> {};

TEST_P(BadExpressionTest, Rejected)
{
    const BadExpression& c = GetParam();
    TempDir dir;
    const std::string g = dir.write("g.txt", kThreeSamples);
    const std::string e = dir.write("e.txt", c.content);
    EXPECT_EXIT(scan_and_load(g, e), ::testing::ExitedWithCode(1), exactly(c.message));
}

const BadExpression kBadExpressions[] = {
    {"NumberWithSuffixInMiddle", "1 1.5x 2\n", kExpressionData},
    {"NumberWithSuffixAtEnd", "1 2 1.5x\n", kExpressionFormat},
    {"DecimalCommaInMiddle", "1,5 2 3\n", kExpressionData},
    {"DecimalCommaAtEnd", "1 2 3,5\n", kExpressionFormat},
    {"MissingValueCode", "1 NA 3\n", kExpressionData},
    {"ExtraNumber", "1 2 3 4\n", kExpressionFormat},
    {"ExtraWord", "1 2 3 x\n", kExpressionFormat},
    {"TooFewValues", "1 2\n", kExpressionFormat},
    // The scan counts the blank line as a gene that then has no values.
    {"BlankLastLine", "1 2 3\n\n", kExpressionFormat},
    {"UnevenLinesTooFew", "1 2 3 4\n5\n", kExpressionFormat},
};

INSTANTIATE_TEST_SUITE_P(Formats, BadExpressionTest, ::testing::ValuesIn(kBadExpressions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExpressionLoad, ReadsNothingWithoutSamplesOrGenes)
{
    TempDir dir;
    const std::string garbage = dir.write("e.txt", "x y\n");
    n = 0;
    ngene = 4;
    EXPECT_EQ(load_expression(garbage).size2(), 4u);
    n = 3;
    ngene = 0;
    EXPECT_EQ(load_expression(garbage).size1(), 3u);
}

TEST(ExpressionLoad, ReportsFileThatDoesNotOpen)
{
    TempDir dir;
    n = 1;
    ngene = 1;
    EXPECT_EXIT(load_expression(dir.file("missing.txt")), ::testing::ExitedWithCode(1),
                exactly("Error: Cannot open the expression file."));
}

TEST(ExpressionLoad, ReportsTemporaryArrayTooLarge)
{
    TempDir dir;
    const std::string e = dir.write("e.txt", "1\n");
    n = INT_MAX;
    ngene = INT_MAX;
    ExpressionMatrix E;
    EXPECT_EXIT(read_expression(E, e.c_str()), ::testing::ExitedWithCode(1),
                exactly("Error: Aborted due to allocation error."));
}

}  // namespace
