// The fast scan must write exactly the bytes of the reference scan, the
// definition of the results, on the kernels of every instruction-set level
// the CPU has: simulated data around the fast scan's blocks of 8 genes and
// panels of 16, and hand-made data at the numerical edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "driver/result_file.hpp"
#include "driver/scan.hpp"
#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"
#include "tests/isa_levels.hpp"
#include "tests/support.hpp"

namespace {

using testsupport::Inputs;
using testsupport::read_file;

class Equivalence : public IsaLevel {
protected:
    Inputs simulate(const std::string& recipe) { return testsupport::simulate(MORV_SIMULATE_BIN, dir, recipe); }

    // Loads `in` as start-up does, runs both scans at each threshold and
    // compares the result files; returns the last reference result.
    std::string compare(const Inputs& in, const std::vector<double>& thresholds)
    {
        GenotypeMatrix G;
        ExpressionMatrix E;
        ublas::matrix<double> moments;
        get_parmeters(in.geno.c_str(), in.expr.c_str());
        G.resize(n, 2 * static_cast<std::size_t>(ps), false);
        read_genotype(G, in.geno.c_str());
        E.resize(n, ngene, false);
        read_expression(E, in.expr.c_str());
        compute_gene_moments(E, moments);
        const RunPaths paths{in.geno, in.expr, in.allele, dir.file("out.txt")};
        std::string expected;
        for (const double t : thresholds) {
            write_result_header(paths.output, t);
            const ScanCounts ref = run_scan_reference(paths, t, G, E, moments);
            expected = read_file(paths.output);
            write_result_header(paths.output, t);
            const ScanCounts fast = run_scan_fast(paths, t, G, E, moments, kernels());
            const std::string got = read_file(paths.output);
            const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin();
            EXPECT_TRUE(got == expected) << "threshold " << t << ", " << in.expr << ": fast '" << got.substr(at, 60)
                                         << "', reference '" << expected.substr(at, 60) << "'";
            EXPECT_EQ(fast.pairs, ref.pairs);
            EXPECT_EQ(fast.prunings, ref.prunings);
            for (const std::string& line : testsupport::lines_of(expected.substr(expected.find("p-value(IT)\n") + 12))) {
                std::size_t flag = 0;
                for (int tab = 0; tab < 3; ++tab)
                    flag = line.find('\t', flag) + 1;
                ++flags[line[flag] - '0'];
            }
        }
        return expected;
    }

    testsupport::TempDir dir;
    long flags[3] = {0, 0, 0};  // the reference's result lines by flag
};

MORV_ISA_LEVELS(Equivalence);

TEST_P(Equivalence, SimulatedData)
{
    // "samples snps genes seed [options]" and the thresholds to run.
    const std::pair<const char*, std::vector<double>> cases[] = {
        {"100 3 9 11 --mean-effect 0:1:3 --mean-effect 1:2:2 --mean-effect 2:0:4 --cov-effect 2:3:4:0.9 "
         "--random-effects 0.3", {0, 1e-7, 1e-4, 0.05, 1, 3, -1}},
        {"60 2 8 4 --mean-effect 0:0:6 --mean-effect 0:5:8 --mean-effect 1:3:-7", {0.05, 3}},
        // MC p-values from moderate down to subnormal and 0 (log10 -inf).
        {"450 2 7 7 --mean-effect 0:0:8 --mean-effect 0:1:6 --mean-effect 0:2:5 --mean-effect 0:3:4 "
         "--cov-effect 0:5:6:0.99", {-1, 1e-300, 1e-7}},
        {"40 2 17 21 --random-effects 0.5:2:0.8", {1e-4, 0.05, 3}},
        {"16 3 9 3", {0.5, 2, 2.0000001, 3}},
        {"1 2 4 5", {0.5, 3}},
        {"3 3 3 9", {3, -1}},
        {"30 6 9 12 --rare 0:0.01 --rare 1:0.03 --rare 2:0.06 --rare 3:0.1 --rare 4:0.9 --rare 5:0.97", {-1, 0.5, 3}},
        {"40 2 9 13 --nonpositive 0.05 --mean-effect 0:1:3", {0.05, 3}},
        {"25 2 8 14 --nonpositive 0.4", {3}},
        {"40 4 9 17 --lower-case 0.4:both --mean-effect 1:2:3", {0.05, 3}},
        {"24 3 9 19 --separator space --crlf --trailing-separator", {3}},
    };
    for (const auto& [recipe, thresholds] : cases)
        compare(simulate(recipe), thresholds);
    // Gene and sample counts around the blocks, panels and vectors.
    const int genes[] = {2, 3, 7, 8, 9, 15, 16, 17, 24, 31, 32, 33, 47, 48, 49};
    const int samples[] = {2, 4, 9, 16, 23, 50, 31};
    for (int seed = 1; seed <= 30; ++seed)
        compare(simulate(std::to_string(samples[seed % 7]) + " 2 " + std::to_string(genes[seed % 15]) + " " +
                         std::to_string(100 + seed) + " --random-effects 0.3:3"),
                {seed % 2 ? 3.0 : 0.05});
    // Every stage of the cascade is reached, and often.
    EXPECT_GT(flags[0], 1000);
    EXPECT_GT(flags[1], 1000);
    EXPECT_GT(flags[2], 20);
}

// Tens of thousands of pairs pruned by the MC test, whose p-values the fast
// scan mostly prints from estimates; one SNP keeps no whole-sample terms.
TEST_P(Equivalence, ManyPrunedPairs)
{
    compare(simulate("40 10 65 51 --random-effects 0.2"), {1e-4, 0.05});
    compare(simulate("60 1 200 52 --random-effects 0.2"), {1e-7});
}

// Genes that copy, scale or nearly copy others, and a square: determinants
// at the edge of 0 and statistics from heavy cancellation.
TEST_P(Equivalence, NearlySingularPairs)
{
    Inputs in = simulate("30 3 1 53");
    std::ostringstream expr;
    expr.precision(17);
    for (int g = 0; g < 16; ++g) {
        const double factor[] = {1.0, 1.0, 10.0, 3.0, 1.0000000001};
        for (int s = 0; s < 30; ++s)
            expr << (s ? " " : "")
                 << (g < 15 ? factor[g % 5] * std::pow(10.0, 1 + 0.5 * std::sin(1.7 * s + g / 5) + 0.2 * (s % 3 == g / 5))
                            : std::pow(10.0, 2 + std::sin(1.7 * s)));
        expr << "\n";
    }
    in.expr = dir.write("singular.expr", expr.str());
    compare(in, {1e-4, 0.5, 3});
}

TEST_P(Equivalence, HandMadeData)
{
    const std::string eight = "A\tA\tC\tG\nA\tG\tC\tC\nG\tG\tG\tG\nA\tA\tC\tC\nA\tG\tG\tC\nG\tG\tC\tC\nA\tA\tG\tG\nA\tG\tC\tG\n";
    const std::string tenByClass = "A\tA\nA\tG\nG\tG\nA\tA\nG\tA\nG\tG\nA\tA\nA\tG\nG\tG\nA\tA\n";
    const Inputs cases[] = {
        {"A\tG\tC\tC\n", "5\n6\n7\n8\n", "A\nC\n"},
        {eight, "5 5 5 5 5 5 5 5\n5 5 5 5 5 5 5 5\n5 5 5 5 5 5 5 5\n", "A\nC\n"},
        {eight + "G\tA\tC\tC\nG\tG\tG\tC\n",
         "1e300 1e-300 1e300 2e300 1e-300 1e308 1e-300 1e300 3e-300 1e300\n"
         "1e-300 1e-300 1e300 1e300 1e-300 1e-300 1e300 1e300 1e-300 1e300\n"
         "4.9e-324 1e-320 2.2e-308 1 1e10 1.7e308 5 6 7 8\n1 2 3 4 5 6 7 8 9 10\n", "A\nC\n"},
        {eight, "inf 2 3 4 5 6 7 8\nnan 2 3 4 5 6 7 8\n0 2 3 4 5 6 7 8\n-3 2 3 4 5 6 7 8\n"
                "-0 2 3 4 5 6 7 8\n1 2 3 4 5 6 7 8.5\n", "A\nC\n"},
        {tenByClass + "G\tG\nA\tG\n", "2 3 5 7 11 13 17 19 23 29 31 37\n4 9 25 49 121 169 289 361 529 841 961 1369\n"
                                      "2.0000001 3 5 7 11 13 17 19 23 29 31 37\n", "A\n"},
        // Gene 0 constant within classes: the LDA sentinel, checked below.
        {tenByClass, "10 100 10000 10 100 10000 10 100 10000 10\n3.1 7.4 2.2 9.9 4.5 6.1 1.3 8.8 5.7 2.6\n"
                     "12 17 31 44 23 19 28 37 15 41\n", "A\n"},
    };
    std::string last;
    for (const Inputs& c : cases)
        last = compare(testsupport::write_inputs(dir, c.geno, c.expr, c.allele), {0.05, 1, 3});
    EXPECT_NE(last.find("\t-9999.000000\t"), std::string::npos) << last;
}

#if defined(__x86_64__)
// A level the CPU offers is never reported missing, nor one it lacks present.
TEST(Isa, ReportsTheLevelsTheCpuOffers)
{
    std::istringstream cpuinfo(read_file("/proc/cpuinfo"));
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.empty())
        GTEST_SKIP() << "no CPU flags in /proc/cpuinfo";
    const auto has = [&](std::initializer_list<const char*> flags) {
        return std::all_of(flags.begin(), flags.end(), [&](const char* f) { return (line + " ").find(std::string(" ") + f + " ") != std::string::npos; });
    };
    EXPECT_TRUE(isa_supported(Isa::generic));
    EXPECT_EQ(isa_supported(Isa::avx2), has({"avx2", "fma"}));
    EXPECT_EQ(isa_supported(Isa::avx512), has({"avx2", "fma", "avx512f", "avx512dq", "avx512bw", "avx512vl"}));
}
#else
// Off x86-64 only the generic level is built.
TEST(Isa, OnlyTheGenericLevelOffX86)
{
    EXPECT_EQ(supported_isas(), std::vector<Isa>{Isa::generic});
    EXPECT_EQ(best_isa(), Isa::generic);
}
#endif

// Each level's table holds its own kernels: a table wired to another level's
// would leave that level's code untested and slow, with every result right.
TEST(Isa, EachLevelRunsItsOwnKernels)
{
    const std::vector<Isa> levels = supported_isas();
    for (std::size_t a = 0; a < levels.size(); ++a)
        for (std::size_t b = a + 1; b < levels.size(); ++b) {
            const Kernels &ka = kernels_for(levels[a]), &kb = kernels_for(levels[b]);
            EXPECT_EQ(ka.isa, levels[a]);
            EXPECT_NE(ka.exact.exp_batch, kb.exact.exp_batch) << isa_name(levels[b]);
            EXPECT_NE(ka.fast.cross_sums_block, kb.fast.cross_sums_block) << isa_name(levels[b]);
        }
}

}  // namespace
