// Black-box tests of the data simulator: reproducibility, file shapes,
// planted effects and option errors.

#include "tests/support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::lines_of;
using testsupport::values_of;
using testsupport::RunResult;
using testsupport::TempDir;

struct DataSet {
    std::string geno, expr, allele;
};

RunResult simulate(const TempDir& dir, const std::string& prefix, std::vector<std::string> args)
{
    std::vector<std::string> argv = {MORV_SIMULATE_BIN, "--out", dir.file(prefix)};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run(MORV_SIMULATE_BIN, argv, "");
}

DataSet simulate_ok(const TempDir& dir, const std::string& prefix, std::vector<std::string> args)
{
    RunResult r = simulate(dir, prefix, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return {testsupport::read_file(dir.file(prefix + ".geno")),
            testsupport::read_file(dir.file(prefix + ".expr")),
            testsupport::read_file(dir.file(prefix + ".allele"))};
}

// Genotype class of every sample at SNP k: the number of letters that are
// not the reference allele.
std::vector<int> classes_of(const DataSet& d, std::size_t k)
{
    char ref = lines_of(d.allele).at(k).at(0);
    std::vector<int> classes;
    for (const std::string& line : lines_of(d.geno))
        classes.push_back((line.at(4 * k) != ref) + (line.at(4 * k + 2) != ref));
    return classes;
}

const std::vector<std::string> kSmall = {"--samples", "40", "--snps", "5", "--genes", "7"};

std::vector<std::string> with(std::vector<std::string> base, const std::vector<std::string>& more)
{
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

TEST(Simulate, SameSeedSameFilesOtherSeedOtherFiles)
{
    TempDir dir;
    DataSet a = simulate_ok(dir, "a", with(kSmall, {"--seed", "9", "--random-effects", "0.3"}));
    DataSet b = simulate_ok(dir, "b", with(kSmall, {"--seed", "9", "--random-effects", "0.3"}));
    DataSet c = simulate_ok(dir, "c", with(kSmall, {"--seed", "10", "--random-effects", "0.3"}));
    EXPECT_EQ(a.geno, b.geno);
    EXPECT_EQ(a.expr, b.expr);
    EXPECT_EQ(a.allele, b.allele);
    EXPECT_NE(a.geno, c.geno);
    EXPECT_NE(a.expr, c.expr);
}

TEST(Simulate, FilesHaveTheRequestedShape)
{
    TempDir dir;
    DataSet d = simulate_ok(dir, "d", kSmall);
    std::vector<std::string> geno = lines_of(d.geno);
    ASSERT_EQ(geno.size(), 40u);
    for (const std::string& line : geno) {
        ASSERT_EQ(line.size(), 4u * 5 - 1);
        for (std::size_t i = 1; i < line.size(); i += 2)
            EXPECT_EQ(line[i], '\t');
    }
    std::vector<std::string> alleles = lines_of(d.allele);
    ASSERT_EQ(alleles.size(), 5u);
    for (std::size_t k = 0; k < alleles.size(); ++k) {
        ASSERT_EQ(alleles[k].size(), 1u);
        // Each SNP uses the reference letter and one other nucleotide.
        std::string letters;
        for (const std::string& line : geno)
            for (char c : {line[4 * k], line[4 * k + 2]})
                if (letters.find(c) == std::string::npos)
                    letters += c;
        EXPECT_LE(letters.size(), 2u);
        EXPECT_NE(letters.find(alleles[k][0]), std::string::npos);
        for (char c : letters)
            EXPECT_NE(std::string("ACGT").find(c), std::string::npos);
    }
    std::vector<std::vector<double>> genes = values_of(d.expr);
    ASSERT_EQ(genes.size(), 7u);
    for (const auto& values : genes) {
        ASSERT_EQ(values.size(), 40u);
        for (double v : values)
            EXPECT_GT(v, 0.0);
    }
    for (const std::string& line : lines_of(d.expr))
        EXPECT_LT(line.size(), 31u * 40);
}

TEST(Simulate, RareSnpGivesTinyClasses)
{
    struct Case {
        const char* freq;
        int class2;
    };
    // Hardy-Weinberg counts of 100 samples: round(100 q^2) without the reference.
    const Case cases[] = {{"0.05", 0}, {"0.1", 1}, {"0.15", 2}, {"0.5", 25}};
    TempDir dir;
    for (const Case& c : cases) {
        DataSet d = simulate_ok(dir, "r", {"--samples", "100", "--snps", "3", "--genes", "2",
                                           "--rare", std::string("1:") + c.freq});
        std::vector<int> classes = classes_of(d, 1);
        int count = 0;
        for (int k : classes)
            count += k == 2;
        EXPECT_EQ(count, c.class2) << "q = " << c.freq;
    }
}

TEST(Simulate, FormatOptions)
{
    TempDir dir;
    DataSet plain = simulate_ok(dir, "p", kSmall);
    DataSet varied = simulate_ok(dir, "v", with(kSmall, {"--separator", "space", "--crlf",
                                                         "--trailing-separator"}));
    std::vector<std::string> geno = lines_of(varied.geno);
    ASSERT_EQ(geno.size(), 40u);
    EXPECT_EQ(geno[0].size(), 4u * 5 + 1);  // trailing blank and carriage return
    EXPECT_EQ(geno[0].substr(geno[0].size() - 2), " \r");
    EXPECT_EQ(lines_of(varied.allele)[0].size(), 2u);
    EXPECT_EQ(lines_of(varied.expr)[0].back(), '\r');
    // Layout options leave every value as it was.
    EXPECT_EQ(values_of(varied.expr), values_of(plain.expr));
}

TEST(Simulate, LowerCaseReachesTheChosenFiles)
{
    struct Case {
        const char* option;
        bool geno_lower, allele_lower;
    };
    const Case cases[] = {{"1", true, true}, {"1:geno", true, false}, {"1:allele", false, true}};
    TempDir dir;
    DataSet plain = simulate_ok(dir, "p", kSmall);
    for (const Case& c : cases) {
        DataSet d = simulate_ok(dir, "l", with(kSmall, {"--lower-case", c.option}));
        bool geno_lower = d.geno.find_first_of("ACGT") == std::string::npos;
        bool allele_lower = d.allele.find_first_of("ACGT") == std::string::npos;
        EXPECT_EQ(geno_lower, c.geno_lower) << c.option;
        EXPECT_EQ(allele_lower, c.allele_lower) << c.option;
        EXPECT_EQ(d.expr, plain.expr);
    }
}

TEST(Simulate, NonpositiveValues)
{
    TempDir dir;
    DataSet all = simulate_ok(dir, "a", with(kSmall, {"--nonpositive", "1"}));
    int zeros = 0, negatives = 0;
    for (const auto& values : values_of(all.expr))
        for (double v : values) {
            zeros += v == 0.0;
            negatives += v < 0.0;
        }
    EXPECT_EQ(zeros + negatives, 7 * 40);
    EXPECT_GT(zeros, 0);
    EXPECT_GT(negatives, 0);
}

double mean(const std::vector<double>& v)
{
    double s = 0.0;
    for (double x : v)
        s += x;
    return s / v.size();
}

double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double ma = mean(a), mb = mean(b), sab = 0.0, saa = 0.0, sbb = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return sab / std::sqrt(saa * sbb);
}

// Log10 values of one gene, split by genotype class at one SNP.
std::vector<std::vector<double>> by_class(const DataSet& d, std::size_t snp, std::size_t gene)
{
    std::vector<int> classes = classes_of(d, snp);
    std::vector<double> values = values_of(d.expr).at(gene);
    std::vector<std::vector<double>> groups(3);
    for (std::size_t s = 0; s < values.size(); ++s)
        groups[classes[s]].push_back(std::log10(values[s]));
    return groups;
}

TEST(Simulate, PlantedEffectsShowInTheData)
{
    TempDir dir;
    DataSet d = simulate_ok(dir, "e", {"--samples", "900", "--snps", "2", "--genes", "4", "--maf",
                                       "0.5", "--mean-effect", "1:0:3", "--cov-effect",
                                       "0:2:3:0.9"});
    // Mean: three gene sd per non-reference allele, and the sd is at least 0.15.
    auto mean_groups = by_class(d, 1, 0);
    EXPECT_GT(mean(mean_groups[1]) - mean(mean_groups[0]), 0.4);
    EXPECT_GT(mean(mean_groups[2]) - mean(mean_groups[1]), 0.4);
    // Covariance: +0.9 in class 0, none in class 1, -0.9 in class 2.
    auto g2 = by_class(d, 0, 2), g3 = by_class(d, 0, 3);
    EXPECT_GT(correlation(g2[0], g3[0]), 0.8);
    EXPECT_LT(std::fabs(correlation(g2[1], g3[1])), 0.2);
    EXPECT_LT(correlation(g2[2], g3[2]), -0.8);
    // Genes without effects stay unrelated to the SNP.
    auto other = by_class(d, 1, 1);
    EXPECT_LT(std::fabs(mean(other[2]) - mean(other[0])), 0.1);
}

TEST(Simulate, HelpGoesToStandardOutput)
{
    RunResult r = testsupport::run(MORV_SIMULATE_BIN, {MORV_SIMULATE_BIN, "-h"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: morv-simulate"), std::string::npos);
}

TEST(Simulate, BadOptionsAreRejected)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--samples", "10", "--snps", "2"},  // no --genes
        with(kSmall, {"--bogus"}),
        with(kSmall, {"stray"}),
        {"--samples", "ten", "--snps", "2", "--genes", "2"},
        {"--samples", "0", "--snps", "2", "--genes", "2"},
        with(kSmall, {"--seed", "-3"}),
        with(kSmall, {"--maf", "1.5"}),
        with(kSmall, {"--rare", "5:0.1"}),
        with(kSmall, {"--rare", "1"}),
        with(kSmall, {"--mean-effect", "0:7:1"}),
        with(kSmall, {"--mean-effect", "0:1"}),
        with(kSmall, {"--cov-effect", "0:1:1:0.5"}),
        with(kSmall, {"--cov-effect", "0:1:2:1.5"}),
        with(kSmall, {"--random-effects", "0.1:1:2"}),
        with(kSmall, {"--lower-case", "0.5:expr"}),
        with(kSmall, {"--separator", "comma"}),
        with(kSmall, {"--nonpositive"}),
    };
    TempDir dir;
    for (const auto& args : cases) {
        RunResult r = simulate(dir, "bad", args);
        std::string shown;
        for (const std::string& a : args)
            shown += a + " ";
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << shown << "-> " << r.err;
    }
    EXPECT_FALSE(testsupport::file_exists(dir.file("bad.geno")));
}

}  // namespace
