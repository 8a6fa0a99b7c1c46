// Assembly of the per-pair test data: genotype classes and log10 expression.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "io/globals.hpp"
#include "io/matrices.hpp"
#include "io/pair_data.hpp"

namespace {

struct Assembled {
    ublas::matrix<double> X;
    ublas::matrix<unsigned> Y;
};

// Genotypes given as one string of 2*ps characters per sample.
GenotypeMatrix genotypes(const std::vector<std::string>& rows)
{
    GenotypeMatrix G(rows.size(), rows.empty() ? 0 : rows[0].size());
    for (std::size_t s = 0; s < rows.size(); ++s)
        for (std::size_t j = 0; j < rows[s].size(); ++j)
            G(s, j) = rows[s][j];
    return G;
}

Assembled assemble(ExpressionMatrix& E, GenotypeMatrix& G, unsigned k, unsigned g1,
                   unsigned g2, char& r)
{
    n = static_cast<int>(G.size1());
    Assembled a{ublas::matrix<double>(n, 2, 7.0), ublas::matrix<unsigned>(n, 2, 7u)};
    getxmatymat_new(a.X, a.Y, E, G, k, g1, g2, r);
    return a;
}

// The class of each sample, read from Y as the statistics read it.
std::vector<int> classes(const ublas::matrix<unsigned>& Y)
{
    std::vector<int> out;
    for (std::size_t s = 0; s < Y.size1(); ++s) {
        EXPECT_LE(Y(s, 0) + Y(s, 1), 1u);
        out.push_back(Y(s, 0) ? 0 : Y(s, 1) ? 1 : 2);
    }
    return out;
}

struct ClassCase {
    const char* name;
    char reference;
    std::vector<std::string> genotypes;  // SNP 0 then SNP 1 per sample
    std::vector<int> snp1Classes;
};

class ClassTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassTest, EncodesGenotypeClass)
{
    const ClassCase& c = GetParam();
    GenotypeMatrix G = genotypes(c.genotypes);
    ExpressionMatrix E(G.size1(), 2, 10.0);
    char r = c.reference;
    const Assembled a = assemble(E, G, 1, 0, 1, r);
    EXPECT_EQ(classes(a.Y), c.snp1Classes);
    EXPECT_EQ(r, c.reference);
}

const ClassCase kClassCases[] = {
    {"AgainstA", 'A', {"TTAA", "TTAG", "TTGA", "TTGG"}, {0, 1, 1, 2}},
    {"CaseDiffers", 'A', {"TTaa", "TTaA", "TTAa", "TTgA"}, {2, 1, 1, 1}},
    {"LowerCaseReference", 'g', {"AAgg", "AAGg", "AAGG", "AAcc"}, {0, 1, 2, 2}},
};

INSTANTIATE_TEST_SUITE_P(TestData, ClassTest, ::testing::ValuesIn(kClassCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TestData, TakesBase10LogarithmsOfBothGenes)
{
    GenotypeMatrix G = genotypes({"AC", "AC", "AC", "AC"});
    ExpressionMatrix E(4, 3);
    const double values[4][3] = {{1, 5.12, 1000}, {2, 4.8, 0.01}, {3, 0, 7}, {4, -2, 1e-300}};
    for (int s = 0; s < 4; ++s)
        for (int g = 0; g < 3; ++g)
            E(s, g) = values[s][g];
    char r = 'A';
    const Assembled a = assemble(E, G, 0, 2, 1, r);
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(a.X(s, 0), std::log10(values[s][2]));
        if (values[s][1] > 0) {
            EXPECT_EQ(a.X(s, 1), std::log10(values[s][1]));
        }
    }
    EXPECT_EQ(a.X(0, 0), 3.0);
    EXPECT_EQ(a.X(2, 1), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(a.X(3, 1)));
}

TEST(TestData, BlankReferenceTakesSampleZerosFirstAllele)
{
    GenotypeMatrix G = genotypes({"ACgt", "AAtt", "CCgg"});
    ExpressionMatrix E(3, 2, 10.0);
    char r = ' ';
    const Assembled a = assemble(E, G, 1, 0, 1, r);
    EXPECT_EQ(r, 'g');  // written back for the later pairs of the SNP
    EXPECT_EQ(classes(a.Y), (std::vector<int>{1, 2, 0}));
}

TEST(TestData, WithoutSamplesWritesNothingAndKeepsBlank)
{
    GenotypeMatrix G(0, 4);
    ExpressionMatrix E(0, 2);
    char r = ' ';
    const Assembled a = assemble(E, G, 1, 0, 1, r);
    EXPECT_EQ(r, ' ');
    EXPECT_EQ(a.X.size1(), 0u);
}

}  // namespace
