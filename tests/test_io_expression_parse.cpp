// The quick expression reader must give exactly the values fscanf "%lf"
// gives, and must give up on everything that is not a plain number list.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/expression_parse.hpp"

namespace {

// The values fscanf reads from `text`, or an empty vector when it stops early.
std::vector<double> scanf_values(const std::string& text, std::size_t count)
{
    std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<double> values(count);
    for (auto& v : values) {
        if (std::fscanf(f, "%lf", &v) != 1) {
            std::fclose(f);
            return {};
        }
    }
    double extra;
    const bool clean = std::fscanf(f, "%lf", &extra) == EOF;
    std::fclose(f);
    return clean ? values : std::vector<double>{};
}

bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(PlainValues, AgreeWithScanfBitForBit)
{
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> digits(1, 20), exponent(-280, 280), pick(0, 9);
    const char* separators[] = {" ", "\t", "\n", "  ", "\r\n", " \t "};
    int quickRounds = 0;
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const std::size_t count = 500;
        for (std::size_t i = 0; i < count; ++i) {
            std::string token;
            if (pick(rng) < 3)
                token += pick(rng) < 5 ? "-" : "+";
            const int len = digits(rng);
            const int point = pick(rng) < 7 ? static_cast<int>(rng() % (len + 1)) : -1;
            for (int d = 0; d < len; ++d) {
                if (d == point)
                    token += '.';
                token += static_cast<char>('0' + pick(rng));
            }
            if (point == len)
                token += '.';
            if (pick(rng) < 4)
                token += (pick(rng) < 5 ? "e" : "E") + std::to_string(exponent(rng) / (pick(rng) < 8 ? 10 : 1));
            text += token;
            text += separators[rng() % 6];
        }
        const std::vector<double> expected = scanf_values(text, count);
        std::vector<double> got(count);
        const bool quick = parse_plain_values(text.data(), text.size(), got.data(), count);
        ASSERT_TRUE(quick) << text;
        ++quickRounds;
        ASSERT_EQ(expected.size(), count) << text;
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_TRUE(same_bits(got[i], expected[i])) << i << ": " << got[i] << " vs " << expected[i];
    }
    EXPECT_EQ(quickRounds, 200);
}

TEST(PlainValues, SubnormalsAndExtremesMatchOrAreLeftToScanf)
{
    const std::string text = "4.9e-324 2.5e-310 2.2250738585072014e-308 1.7976931348623157e308 -0 0.0";
    const std::vector<double> expected = scanf_values(text, 6);
    std::vector<double> got(6);
    if (parse_plain_values(text.data(), text.size(), got.data(), 6)) {
        ASSERT_EQ(expected.size(), 6u);
        for (std::size_t i = 0; i < 6; ++i)
            EXPECT_TRUE(same_bits(got[i], expected[i])) << i;
    }
}

TEST(PlainValues, GivesUpOnEverythingElse)
{
    struct Case {
        const char* text;
        std::size_t count;
        bool quick;
    };
    const Case cases[] = {
        {"1 2 3", 3, true},        {" 1.5\n2e3\t-4.25 \n\n", 3, true},
        {"+7 .5 5.", 3, true},     {"1 2", 3, false},          // too few
        {"1 2 3 4", 3, false},     {"1 NA 3", 3, false},       // too many; a word
        {"1.5x 2 3", 3, false},    {"1,5 2 3", 3, false},      // junk after a number; decimal comma
        {"1e 2 3", 3, false},      {"0x1p3 2 3", 3, false},    // incomplete exponent; hex
        {"inf 2 3", 3, false},     {"nan 2 3", 3, false},      // spelled-out values go to fscanf
        {"1e400 2 3", 3, false},   {"1e-400 2 3", 3, false},   // out of range
        {"1-2 3", 3, false},       {"+-1 2 3", 3, false},      // two signs
        {"1 2 3\x01", 3, false},   {"", 0, true},
        {"   \n", 0, true},        {"5", 0, false},
    };
    for (const Case& c : cases) {
        std::vector<double> v(c.count + 1);
        EXPECT_EQ(parse_plain_values(c.text, std::strlen(c.text), v.data(), c.count), c.quick) << c.text;
    }
    // A NUL byte inside the data is never a separator.
    const std::string withNul("1 2\0 3", 6);
    std::vector<double> v(3);
    EXPECT_FALSE(parse_plain_values(withNul.data(), withNul.size(), v.data(), 3));
}

}  // namespace
