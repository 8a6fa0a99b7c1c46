// The input formats: the dimension scan and the loaders of the genotype and
// expression files. A fault must end the run with exactly its message. (The
// allele file is read during the scan: see test_faults.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/expression_parse.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"
#include "io/line_buffer.hpp"
#include "tests/support.hpp"

namespace {

using testsupport::bits_of;
using testsupport::TempDir;
using ::testing::ExitedWithCode;

// What a fatal error leaves on standard error: its message and a newline.
::testing::Matcher<const std::string&> exactly(const std::string& message) { return message + "\n"; }

// A string literal with its NUL bytes.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) { return std::string(literal, N - 1); }

TEST(Genotype, ScanAndLoad)
{
    const std::string neighbours = "Error: Invalid format in genome data.";
    const std::string length = "Error: Invalid format in genome data";
    const std::string data = "Error: Invalid data or format in genome data";
    const struct {
        std::string content, error;     // error: the message that rejects it
        std::vector<std::string> rows;  // else the rows it loads to
    } cases[] = {
        {"A\tC\tG\tT\tx\nC\tC\tA\tG\ty\n", "", {"ACGT", "CCAG"}},
        {"A C G T\r\nT G C A\r\n", "", {"ACGT", "TGCA"}},
        // Case is kept; only the first line is tested for equal neighbours.
        {"a\tC\tg\tt\nAAcCGGT", "", {"aCgt", "AcGT"}},
        {bytes("A\0C\nG\0T"), "", {"AC", "GT"}},
        {"", "", {}},
        {"A\tC\tG\tT", neighbours, {}},
        {"A\tC\tGG\tT\n", neighbours, {}},
        {"A\tC\tG\tT\nC\tC\tA\tG\n\n", length, {}},
        {"A\tC\nA\tC\t\n", length, {}},
        {"A\tC\t\nA\n", length, {}},  // the longer line's newline still in the buffer
        {"A\tC\tG\tT\nA\tC", data, {}},
        {"A\tC\tG\t\n", data, {}},
        {"N\tC\tG\tT\t\n", data, {}},
        {"A\tC\tG\tT\t\nA\tC\t0\tT\t\n", data, {}},
        {bytes("A\tC\tG\tT\t\nA\tC\tG\tT\t\nA\tC\tG\t\0\t\n"), data, {}},
    };
    TempDir dir;
    const std::string e = dir.write("e.txt", "1\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.content));
        const std::string g = dir.write("g.txt", c.content);
        if (!c.error.empty()) {
            EXPECT_EXIT(get_parmeters(g.c_str(), e.c_str()), ExitedWithCode(1), exactly(c.error));
            continue;
        }
        get_parmeters(g.c_str(), e.c_str());
        ASSERT_EQ(n, static_cast<int>(c.rows.size()));
        ASSERT_EQ(2 * ps, n ? static_cast<int>(c.rows[0].size()) : 0);
        GenotypeMatrix G(n, 2 * ps);
        read_genotype(G, g.c_str());
        for (int s = 0; s < n; ++s)
            EXPECT_EQ(std::string(&G(s, 0), 2 * ps), c.rows[s]);
    }
}

TEST(Genotype, FirstLineOfAtMostFourMillionCharacters)
{
    TempDir dir;
    const std::string e = dir.write("e.txt", "1\n");
    std::string line;
    while (line.size() < 4000000)
        line += "A\tC\t";
    get_parmeters(dir.write("g.txt", line + "\n").c_str(), e.c_str());
    EXPECT_EQ(ps, 1000000);
    EXPECT_EXIT(get_parmeters(dir.write("g.txt", line + "A\n").c_str(), e.c_str()), ExitedWithCode(1),
                exactly("Error: Absorted due to input error (genome data)."));
}

const std::string kThreeSamples = "A\tC\nG\tT\nA\tA\n";

TEST(Expression, CountsReadsAsGenes)
{
    const std::pair<std::string, int> cases[] = {
        {"1 2 3\n4 5 6", 2}, {"1 2 3\n\n", 2},
        // With n = 3 a read takes at most 31*3 + 1 = 94 characters.
        {std::string(93, '1') + "\n", 1}, {std::string(94, '1') + "\n", 2}};
    TempDir dir;
    const std::string g = dir.write("g.txt", kThreeSamples);
    for (const auto& [expr, genes] : cases) {
        get_parmeters(g.c_str(), dir.write("e.txt", expr).c_str());
        EXPECT_EQ(ngene, genes) << expr;
    }
    // Without samples a read takes one character.
    get_parmeters(dir.write("g.txt", "").c_str(), dir.write("e.txt", "1 2\n3 4\n").c_str());
    EXPECT_EQ(ngene, 8);
}

TEST(Expression, LoadsValuesOrFailsWithTheScanfVerdict)
{
    const std::string data = "Error: Invalid data in expressions";
    const std::string format = "Error: Invalid format in expression data.";
    const struct {
        std::string content, error;
        std::vector<double> values;  // gene-major, three samples
    } cases[] = {
        {"5.12 4.8 6.25 1\n2 3\n", "", {5.12, 4.8, 6.25, 1, 2, 3}},
        {"1e2 -inf nan\n.5 +3 0x1p3 \t\n", "", {100, -INFINITY, NAN, 0.5, 3, 8}},
        {"0 -1 2\n3 4 5\n", "", {0, -1, 2, 3, 4, 5}},
        {"1 1.5x 2\n", data, {}},
        {"1,5 2 3\n", data, {}},
        {"1 NA 3\n", data, {}},
        {"1 2 1.5x\n", format, {}},
        {"1 2 3 4\n", format, {}},
        {"1 2\n", format, {}},
        {"1 2 3\n\n", format, {}},  // the blank line is a gene without values
    };
    TempDir dir;
    const std::string g = dir.write("g.txt", kThreeSamples);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const std::string e = dir.write("e.txt", c.content);
        ExpressionMatrix E;
        const auto load = [&] {
            get_parmeters(g.c_str(), e.c_str());
            E.resize(n, ngene);
            read_expression(E, e.c_str());
        };
        if (!c.error.empty()) {
            EXPECT_EXIT(load(), ExitedWithCode(1), exactly(c.error));
            continue;
        }
        load();
        for (std::size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(bits_of(E(i % 3, i / 3)), bits_of(c.values[i])) << i;
    }
}

// The quick reader must take only what fscanf "%lf" reads the same way.
TEST(Expression, QuickReaderGivesWhatScanfGives)
{
    std::vector<std::string> texts = {"+7 .5 5.",   " 1.5\n2e3\t-4.25 \n\n", "1 2",     "1 2 3 4", "1e 2 3",
                                      "0x1p3 2 3",  "inf 2 3",               "1e400 2 3", "1-2 3", "+-1 2 3",
                                      "1 2 3\x01", bytes("1 2\0 3"), "4.9e-324 2.5e-310 2.2250738585072014e-308"};
    const std::size_t handMade = texts.size();
    std::mt19937_64 rng(11);
    for (int round = 0; round < 100; ++round) {
        std::string text;
        for (int i = 0; i < 3; ++i) {
            text += std::string("+- ").substr(rng() % 5 / 2, 1);  // a sign, or none
            for (auto digits = 1 + rng() % 20, point = rng() % 24; digits > 0; --digits)
                text += std::to_string(rng() % 10) + (digits == point ? "." : "");
            if (rng() % 10 < 4)
                text += "eE"[rng() % 2] + std::to_string(static_cast<int>(rng() % 561) - 280);
            text += " \t\n"[rng() % 3];
        }
        texts.push_back(text);
    }
    for (std::size_t t = 0; t < texts.size(); ++t) {
        std::FILE* f = fmemopen(texts[t].data(), texts[t].size(), "r");
        double expected[4];
        const bool clean = std::fscanf(f, "%lf%lf%lf", &expected[0], &expected[1], &expected[2]) == 3 &&
                           std::fscanf(f, "%lf", &expected[3]) == EOF;
        std::fclose(f);
        double got[3];
        const bool quick = parse_plain_values(texts[t].data(), texts[t].size(), got, 3);
        EXPECT_TRUE(quick || t < handMade) << texts[t];  // plain number lists take the quick way
        EXPECT_TRUE(!quick || clean) << texts[t];
        for (int i = 0; quick && clean && i < 3; ++i)
            EXPECT_EQ(bits_of(got[i]), bits_of(expected[i])) << texts[t];
        // Fed in pieces cut anywhere, as a file's blocks are: the same verdict
        // and values.
        double cut[3];
        PlainReader R;
        R.out = cut;
        R.count = 3;
        bool plain = true;
        for (std::size_t at = 0, piece; at < texts[t].size() && plain; at += piece) {
            piece = std::min<std::size_t>(1 + rng() % 4, texts[t].size() - at);
            plain = read_plain_piece(R, texts[t].data() + at, piece);
        }
        EXPECT_EQ(plain && finish_plain(R), quick) << texts[t];
        for (int i = 0; quick && i < 3; ++i)
            EXPECT_EQ(bits_of(cut[i]), bits_of(got[i])) << texts[t];
    }
}

// read_line against one fgets call of the whole buffer's size (its length
// taken from the file position), on lines with NUL bytes, over-long lines
// and a last line without newline, for fills and call sizes that split reads.
TEST(LineBuffer, ReadsWhatOneFgetsReads)
{
    std::mt19937_64 rng(5);
    std::string text;
    for (int line = 0; line < 60; ++line) {
        for (auto k = rng() % 40; k > 0; --k)
            text += "ab\0c"[rng() % 4];
        text += '\n';
    }
    text += "tail";
    // Read by a fresh buffer, a last line without newline ends where no
    // earlier read restored the fill.
    const std::string lastOnly = bytes("a line\0 without newline");
    struct Shape {
        std::size_t size, fillStep, limit;
    };
    for (const Shape shape : {Shape{2, 2, INT_MAX}, Shape{3, 2, INT_MAX}, Shape{16, 3, INT_MAX}, Shape{16, 5, 4},
                              Shape{41, 2, 7}, Shape{64, 1 << 16, INT_MAX}, Shape{64, 8, INT_MAX}})
    for (std::string input : {text, lastOnly}) {
        std::FILE* plain = fmemopen(input.data(), input.size(), "r");
        std::FILE* split = fmemopen(input.data(), input.size(), "r");
        std::vector<char> expected(shape.size);
        LineBuffer buffer;
        buffer.fill_step = shape.fillStep;
        buffer.fgets_limit = shape.limit;
        allocate_line_buffer(buffer, shape.size);
        std::memset(buffer.data.get() + buffer.filled, 'x', shape.size - buffer.filled);  // what the heap held
        for (int read = 0;; ++read) {
            const long before = std::ftell(plain);
            const bool more = std::fgets(expected.data(), static_cast<int>(shape.size), plain) != nullptr;
            std::size_t length = 0;
            ASSERT_EQ(read_line(buffer, split, length), more) << shape.size << " read " << read;
            if (!more)
                break;
            ASSERT_EQ(length, static_cast<std::size_t>(std::ftell(plain) - before)) << shape.size << " read " << read;
            ASSERT_EQ(std::string(buffer.data.get(), length + 1), std::string(expected.data(), length + 1));
        }
        std::fclose(plain);
        std::fclose(split);
    }
}

}  // namespace
