// The result-file reader and the report programs' cores: IDs and filters of
// the annotator, its effect columns, its errors, the inflation factor and the
// plot, false-discovery control over histograms; every program's -h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <htslib/bgzf.h>
#include <zlib.h>

#include "files/program_error.hpp"
#include "report/annotate.hpp"
#include "report/effects.hpp"
#include "report/fdr.hpp"
#include "report/qq.hpp"
#include "report/qq_plot.hpp"
#include "results/histogram.hpp"
#include "tests/support.hpp"

namespace {

using testsupport::TempDir;

const std::string kHeader = "Results of MORV:\nthreshold = 0.050000\n"
                            "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t p-value(IT)\n";
const std::string kLines = "0\t0\t1\t0\t-0.500000\t1.0\t1.0\n"
                           "1\t0\t2\t1\t-3.000000\t-12.500000\t-inf\n"
                           "1\t1\t2\t2\t-1.400000\t-30.000000\t1.0\n"
                           "0\t1\t2\t1\t-2.000000\t-10.000000\t-1.900000\n";

// kLines as morv-annotate writes them, with the IDs of write_ids.
const std::string kRows[] = {"rs7\t1\t100\tA\tG\tG0\tG1\t0\t-0.500000\t1.0\t1.0\n",
                             "2:50:C:T\t2\t50\tC\tT\tG0\tG2\t1\t-3.000000\t-12.500000\t-inf\n",
                             "2:50:C:T\t2\t50\tC\tT\tG1\tG2\t2\t-1.400000\t-30.000000\t1.0\n",
                             "rs7\t1\t100\tA\tG\tG1\tG2\t1\t-2.000000\t-10.000000\t-1.900000\n"};
const std::string kColumns = "snp_id\tchrom\tpos\tref\talt\tgene1_id\tgene2_id\tflag\tlog10_p_mc\tlda\tlog10_p_it";

void write_ids(const TempDir& dir)
{
    dir.write("snps.tsv", "index\tid\tchrom\tpos\tref\talt\n0\trs7\t1\t100\tA\tG\n1\t2:50:C:T\t2\t50\tC\tT\n");
    dir.write("genes.tsv", "index\tid\tchrom\tstart\tend\n0\tG0\t1\t5\t9\n1\tG1\t.\t.\t.\n2\tG2\t3\t1\t2\n");
}

// The annotator's output; an IT limit of 1 or more stands for none.
std::string annotated(const TempDir& dir, const std::string& results, const std::string& flags, double mc, double it)
{
    AnnotateFilter f{{true, true, true}, std::log10(mc), std::log10(it), it < 1};
    if (!flags.empty())
        set_flags(f, flags);
    std::ostringstream out;
    annotate(results, read_prepared(dir.path), f, out);
    return out.str();
}

TEST(Annotate, IdsAndFiltersOnPlainAndGzippedResults)
{
    TempDir dir;
    write_ids(dir);
    const std::string plain = dir.write("r.txt", kHeader + kLines);
    const std::string gz = dir.file("r.txt.gz");
    gzFile f = gzopen(gz.c_str(), "wb");
    ASSERT_TRUE(f && gzputs(f, (kHeader + kLines).c_str()) > 0 && gzclose(f) == Z_OK);
    const std::string* row = kRows;
    const struct { std::string flags; double mc, it; std::string rows; } cases[] = {
        {"", 2, 2, row[0] + row[1] + row[2] + row[3]}, {"1,2", 2, 2, row[1] + row[2] + row[3]},
        {"0", 2, 2, row[0]}, {"", 0.05, 2, row[1] + row[2] + row[3]}, {"", 2, 0.01, row[1]}, {"", 2, 0.5, row[1] + row[3]},
    };
    for (const std::string& results : {plain, gz})
        for (const auto& c : cases) {
            SCOPED_TRACE(results + " flags " + c.flags + " mc " + std::to_string(c.mc) + " it " + std::to_string(c.it));
            EXPECT_EQ(annotated(dir, results, c.flags, c.mc, c.it), kColumns + "\n" + c.rows);
        }
    std::string cut = testsupport::read_file(gz);
    cut.resize(cut.size() - 9);
    BGZF* bgzf = bgzf_open(dir.file("r.bgz").c_str(), "w");
    ASSERT_TRUE(bgzf && bgzf_write(bgzf, (kHeader + kLines).data(), (kHeader + kLines).size()) > 0 &&
                bgzf_close(bgzf) == 0);
    std::string noEnd = testsupport::read_file(dir.file("r.bgz"));
    noEnd.resize(noEnd.size() - 28);  // a block boundary: every other byte still a whole gzip stream
    const struct { std::string content, message; bool gzip; } faults[] = {
        {"Results of morv:\n" + kHeader.substr(17) + kLines, "r.txt line 1: not a morv result header", false},
        {kHeader + kLines + "0\t1\t2\t1\t-1.5\t-1.000000\t-1.000000\n", "r.txt line 8: MC value '-1.5'", false},
        {kHeader + kLines + "2\t0\t1\t0\t-1.000000\t1.0\t1.0\n", "r.txt line 8: SNP index 2 is beyond", false},
        {kHeader + "0\t2\t1\t0\t-1.000000\t1.0\t1.0\n", "r.txt line 4: gene 1 index 2 is not below gene 2 index 1", false},
        {kHeader + "0\t0\t1\t0\t0.500000\t1.0\t1.0\n", "r.txt line 4: MC value '0.500000' is the log10 of a p-value above 1", false},
        {kHeader + "0\t0\t1\t2\t-1.300000\t-1.000000\t1.0\n", "r.txt line 4: flag 2 says the pair passed the MC test", false},
        {kHeader + "0\t0\t1\t0\t-1.302000\t1.0\t1.0\n", "r.txt line 4: flag 0 says the MC test stopped the pair", false},
        {kHeader + "0\t0\t1\t1\t-2.000000\t-1.000000\t0.100000\n", "r.txt line 4: IT value '0.100000' is the log10", false},
        {cut, "r.txt.gz is cut short", true},
        {testsupport::read_file(gz) + "junk", "r.txt.gz holds data that are not gzip after the end of its gzip stream", true},
        {noEnd, "r.txt.gz does not end with the BGZF end-of-file block", true},
    };
    for (const auto& c : faults) {
        dir.write(c.gzip ? "r.txt.gz" : "r.txt", c.content);
        try {
            ADD_FAILURE() << "accepted " << annotated(dir, c.gzip ? gz : plain, "", 2, 2);
        } catch (const ProgramError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

// A prepared folder of 10 samples, 4 SNPs (classes by sample below) and 3
// genes; gene 2 is constant within each class of SNP 0.
void write_effects_folder(const TempDir& dir)
{
    const char* classes[] = {"0000011122", "0120120121", "0000011111", "2222222222"};
    const std::string refs = "ACTG", alts = "GTAC";
    std::string genotype;
    for (int s = 0; s < 10; ++s, genotype += '\n')
        for (int j = 0; j < 4; ++j) {
            const int c = classes[j][s] - '0';
            std::string call = {c == 2 ? alts[j] : refs[j], '\t', c == 0 ? refs[j] : alts[j], '\t'};
            if (c == 1 && s % 2)  // either allele may be the reference one
                std::swap(call[0], call[2]);
            genotype += call;
        }
    dir.write("genotype.txt", genotype);
    dir.write("allele.txt", "A\nC\nT\nG\n");
    dir.write("expression.txt", "12.5\t3.1\t7.7\t20.2\t5.5\t9\t2.4\t15.1\t6.6\t11.3\n"
                                "4.4\t8.8\t2.2\t13.9\t7.1\t3.3\t10.6\t5.9\t9.9\t1.7\n7\t7\t7\t7\t7\t3\t3\t3\t3.001\t3.001\n");
    dir.write("snps.tsv", "index\tid\tchrom\tpos\tref\talt\n0\ts0\t1\t1\tA\tG\n1\ts1\t1\t2\tC\tT\n2\ts2\t1\t3\tT\tA\n"
                          "3\ts3\t1\t4\tG\tC\n");
    dir.write("genes.tsv", "index\tid\tchrom\tstart\tend\n0\tg0\t.\t.\t.\n1\tg1\t.\t.\t.\n2\tg2\t.\t.\t.\n");
}

TEST(Annotate, EffectsAgreeWithAnIndependentComputation)
{
    TempDir dir;
    write_effects_folder(dir);
    // Worked out apart from the same values at 40 digits: textbook r, F tail by the incomplete beta.
    const struct { std::string pair, columns; } rows[] = {
        {"0\t0\t1", "5\t3\t2\t0.123450\t-0.698510\tNA\t-0.026586\t-0.083482"},  // r2: a class of 2
        {"0\t1\t2", "5\t3\t2\tNA\tNA\tNA\t-0.083482\tNA"},  // gene 2 constant within each class
        {"1\t0\t1", "3\t4\t3\t-0.079755\t-0.590565\t-0.703417\t-0.012906\t-0.336869"},
        {"2\t0\t2", "5\t5\t0\tNA\t0.175443\tNA\t-0.048338\t-29.079468"},  // F(1, 8); a p far below 1e-16
        {"3\t0\t1", "0\t0\t10\tNA\tNA\t-0.249331\tNA\tNA"},  // one class: no F-test
    };
    std::string results = kHeader;
    for (const auto& row : rows)
        results += row.pair + "\t0\t-0.500000\t1.0\t1.0\n";
    const EffectTables effects = read_effect_tables(dir.path, 4, 3);
    std::ostringstream out;
    annotate(dir.write("r.txt", results), read_prepared(dir.path), AnnotateFilter{}, out, false, &effects);
    const std::vector<std::string> lines = testsupport::lines_of(out.str());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(lines[0].find("\tn0")), "\tn0\tn1\tn2\tr0\tr1\tr2\tgene1_log10p\tgene2_log10p");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(lines[i + 1].substr(lines[i + 1].find("1.0\t1.0\t") + 8), rows[i].columns) << rows[i].pair;
}

TEST(Annotate, EffectsRefuseAFolderWhoseFilesDisagree)
{
    const struct { std::string file, from, to, message; } cases[] = {
        {"expression.txt", "\t1.7\n", "\n", "expression.txt line 2: 9 values, but genotype.txt has 10 samples"},
        {"expression.txt", "12.5", "0", "expression.txt line 1: value 1 '0' is not a positive number"},
        {"expression.txt", "7\t7\t7\t7\t7\t3\t3\t3\t3.001\t3.001\n", "", "expression.txt has 2 lines, but DIR/genes.tsv has 3"},
        {"genotype.txt", "G\tG\tT\tC\t", "G\tG\t", "genotype.txt line 10: 12 characters, not the 16 of two alleles"},
        {"genotype.txt", "G\tG\tT\tC\t", "G\tG\tT\tC\tA\tA\t", "genotype.txt line 10: 20 characters, not the 16"},
        {"allele.txt", "G\n", "", "allele.txt has 3 lines, but DIR/snps.tsv has 4 rows"},
        {"allele.txt", "A\n", "AA\n", "allele.txt line 1: expected one allele letter"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_effects_folder(dir);
        dir.write("r.txt", kHeader + "0\t0\t1\t0\t-0.500000\t1.0\t1.0\n");
        std::string text = testsupport::read_file(dir.file(c.file)), message = c.message;
        dir.write(c.file, text.replace(text.find(c.from), c.from.size(), c.to));
        if (message.find("DIR") != std::string::npos)
            message.replace(message.find("DIR"), 3, dir.path);
        const testsupport::RunResult r = testsupport::run(
            MORV_ANNOTATE_BIN, {"morv-annotate", "--results", dir.file("r.txt"), "--effects", "--prepared", dir.path}, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Error: " + dir.path + "/" + message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// No lambda over nothing, nor over the p-values below the threshold alone.
TEST(Qq, RefusesWhatItCannotPlot)
{
    const std::string omitted = R"({"format": "morv-manifest 1", "complete": true, "omit_pruned": true})";
    const struct { std::string results, manifest, message; } cases[] = {
        {kHeader, "", "r.txt holds no result lines: there is nothing to plot"},
        {kHeader + "0\t0\t1\t0\t0.000000\t1.0\t1.0\n", "", "r.txt holds no MC p-value below 1"},
        {kHeader + kLines, omitted, "r.txt was written with --omit-pruned"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        dir.write("r.txt", c.results);
        if (!c.manifest.empty())
            dir.write("r.txt.manifest.json", c.manifest);
        const testsupport::RunResult r =
            testsupport::run(MORV_QQ_BIN, {"morv-qq", "--results", dir.file("r.txt"), "--out", dir.file("qq.png")}, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Error: " + dir.path + "/" + c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::ifstream(dir.file("qq.png")).good());
    }
}

TEST(Qq, LambdaOfTheBinnedMedianEqualsTheSortedMedian)
{
    std::mt19937_64 random(11);
    std::string lines;
    std::vector<double> p;
    StatCounts counts;  // the same values in a histogram's 0.01 bins
    for (int i = 0; i < 1000; ++i) {  // a skewed mix, p as morv rounds its logarithm
        char x[32];
        std::snprintf(x, sizeof x, "%f", std::log10(std::uniform_real_distribution<double>(1e-6, 0.9)(random)) * (i % 3 ? 1 : 1.7));
        count_printed(counts, x, x + std::strlen(x));
        p.push_back(std::pow(10.0, std::strtod(x, nullptr)));
        lines += std::to_string(i) + "\t0\t1\t0\t" + x + "\t1.0\t1.0\n";
    }
    TempDir dir;
    std::string header = kHeader;  // threshold 0: every pair stopped by the MC test
    header.replace(header.find("0.05"), 4, "0.00");
    const QQSeries q = read_qq_series(dir.write("r.txt", header + lines + "7\t0\t1\t0\t0.301030\t1.0\t1.0\n"));
    std::sort(p.begin(), p.end());
    EXPECT_EQ(q.mc.tested, 1000u);
    EXPECT_EQ(q.mc.left_out, 1u);
    EXPECT_NEAR(lambda_of(q.mc), lambda_of_median_p(0.5 * (p[499] + p[500])), 1e-4);
    // At 0.01 in -log10 p the median is interpolated within its bin: off by 0.006 here, not the 0.02 of the bin's middle.
    EXPECT_NEAR(lambda_of(series_of(counts)), lambda_of_median_p(0.5 * (p[499] + p[500])), 0.01);
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gnuplot is not installed: the plot is not drawn";
    const std::string png = dir.file("qq.png");
    draw_qq_plot({{"MC", lambda_of(q.mc), q.mc.tested, qq_points(q.mc, 500), ""}}, png);
    EXPECT_EQ(testsupport::read_file(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

std::string printed(double log10p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%f", log10p);
    return text;
}

unsigned bin_of(const std::string& text)  // kBins for no number
{
    unsigned b = 0;
    bool nan = false;
    return bin_of_text(text.data(), text.data() + text.size(), b, nan) ? b : kBins;
}

// A scan of printed MC and IT values; the pairs without an IT value never reached it.
HistogramScan scan_of(const std::vector<std::string>& mc, const std::vector<std::string>& it)
{
    HistogramScan s;
    s.pairs = mc.size();
    s.it.untested = mc.size() - it.size();
    for (const auto& [counts, texts] : {std::pair{&s.mc, &mc}, std::pair{&s.it, &it}})
        for (const std::string& t : *texts)
            count_printed(*counts, t.data(), t.data() + t.size());
    return s;
}

// q at every real value and the discoveries at several q against the
// definitions worked out on the values themselves, sorted; and the table.
TEST(Fdr, PermutationQValuesEqualADirectComputation)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> u(0, 1);
    const unsigned scans = 5, pairs = 400;  // the real scan and 4 permutations
    Histogram h;
    h.origin.inputs = "a b c";
    h.origin.permutations = scans - 1;
    std::vector<std::vector<unsigned>> bins(scans);
    for (unsigned k = 0; k < scans; ++k) {
        std::vector<std::string> mc;
        for (unsigned i = 0; i < pairs; ++i) {  // a tenth of the real pairs far from the null
            mc.push_back(printed(std::log10(u(random) * (k == 0 && i % 10 == 0 ? 1e-4 : 1))));
            bins[k].push_back(bin_of(mc.back()));
        }
        // IT: the real scan's first half only, so more permutation values than real ones at every cut-off
        h.scans.push_back(scan_of(mc, k ? mc : std::vector<std::string>(mc.begin(), mc.begin() + pairs / 2)));
    }
    std::vector<unsigned> real = bins[0];
    std::sort(real.begin(), real.end());
    std::vector<double> q(pairs), curveQ(pairs);  // of real[i]: the least FDR of it and every looser cut-off
    const FdrCurve curve = fdr_curve(h, &HistogramScan::mc);
    for (unsigned i = 0; i < pairs; ++i) {
        double counts[2] = {0, 0};  // at or above real[i]: real, permutations'
        for (unsigned k = 0; k < scans; ++k)
            counts[k > 0] += std::count_if(bins[k].begin(), bins[k].end(), [&](unsigned b) { return b >= real[i]; });
        q[i] = std::min(i ? q[i - 1] : 1.0, counts[1] / (scans - 1) / counts[0]);
        curveQ[i] = curve.q[real[i]];
    }
    EXPECT_EQ(curveQ, q);
    EXPECT_TRUE(std::is_sorted(curve.q.rbegin(), curve.q.rend()));  // never larger at a stricter cut-off
    std::vector<long> discoveries;
    for (double limit : {0.01, 0.05, 0.2}) {
        discoveries.push_back(std::count_if(q.begin(), q.end(), [&](double v) { return v <= limit; }));
        EXPECT_EQ(permutation_cutoff(curve, limit).discoveries, discoveries.back()) << limit;
    }
    TempDir dir;
    write_histogram(dir.file("h"), h);
    const auto r = testsupport::run(MORV_FDR_BIN, {"morv-fdr", "--histogram", dir.file("h"), "--q", "0.05"}, "");
    const std::vector<std::string> lines = testsupport::lines_of(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.err;
    EXPECT_EQ(lines[0], "statistic\tq\tcutoff_log10p\tdiscoveries\tmethod");
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t', lines[1].size() - 13)), "\t" + std::to_string(discoveries[1]) + "\tpermutation");
    // The cut-off lies above the loosest value not discovered and at or below the loosest discovered.
    const long cutoff = std::lround(-100 * std::stod(lines[1].substr(8)));
    EXPECT_TRUE(cutoff > real[pairs - discoveries[1] - 1] && cutoff <= real[pairs - discoveries[1]]) << lines[1];
    EXPECT_EQ(fdr_curve(h, &HistogramScan::it).q[0], 1.0);  // an FDR of 2, capped
}

// At bin resolution Benjamini-Hochberg is BH on the p-values rounded up to
// their bins' edges; p-values that are no number, and tests never run, count
// among the m tests and are never discoveries.
TEST(Fdr, BenjaminiHochbergOnTheHistogramEqualsItOnRoundedPValues)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<std::string> it;
    std::vector<double> rounded;
    for (int i = 0; i < 3000; ++i) {
        it.push_back(i % 100 == 0 ? "nan" : printed(std::log10(u(random) * (i % 8 ? 1 : 1e-5))));
        if (bin_of(it.back()) < kBins)
            rounded.push_back(std::pow(10.0, -static_cast<double>(bin_of(it.back())) / 100));
    }
    std::sort(rounded.begin(), rounded.end());
    const std::uint64_t m = it.size() + 500;  // 500 pairs never reached the test
    const HistogramScan s = scan_of(std::vector<std::string>(m, "-0.100000"), it);
    for (double limit : {0.001, 0.01, 0.05, 0.2}) {
        std::size_t k = 0;  // the largest rank whose p is at most rank * q / m
        for (std::size_t rank = 1; rank <= rounded.size(); ++rank)
            if (rounded[rank - 1] <= rank * limit / m)
                k = rank;
        std::istringstream row(testsupport::lines_of(fdr_table(Histogram{{}, {s, s}}, limit, "q"))[4]);
        std::string name, q, cutoff, method;
        std::size_t discoveries = 0;
        row >> name >> q >> cutoff >> discoveries >> method;
        EXPECT_EQ(name + " " + method + " " + std::to_string(discoveries), "it bh " + std::to_string(k)) << limit;
    }
}

// kLines' study by hand: MC bins 50, 300, 140, 200 against the permutations'
// (10, 20, 150, 30) and (10, 60, 20, 250); IT bins 30000 and 190 (flag 1)
// against one value in bin 50.
Histogram tiny_study()
{
    Histogram h;
    h.origin = {"a b c", 0.05, 10, 3, 2, 0, 1, 2, 9, "none"};
    h.scans = {scan_of({"-0.500000", "-3.000000", "-1.400000", "-2.000000"}, {"-inf", "-1.900000"}),
               scan_of({"-0.100000", "-0.200000", "-1.500000", "-0.300000"}, {"-0.500000"}),
               scan_of({"-0.100000", "-0.600000", "-0.200000", "-2.500000"}, {})};
    return h;
}

// The manifest of the run that wrote kLines and tiny_study().
const std::string kTinyManifest = R"({"format": "morv-manifest 1", "complete": true, "omit_pruned": false,
    "threshold": 0.05, "inputs": {"genotype": {"checksum": "a"}, "expression": {"checksum": "b"},
    "allele": {"checksum": "c"}}, "samples": 10, "genes": 3, "snps_in_file": 2, "snps": {"first": 0, "last": 1}})";

// From a histogram, a result written with --omit-pruned is no obstacle: the real scan counts every pair.
TEST(Qq, FromAHistogramEveryPairBesideThePermutations)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "gnuplot is not installed: the plot is not drawn";
    TempDir dir;
    dir.write("r.txt", kHeader + kLines);
    std::string manifest = kTinyManifest;
    dir.write("r.txt.manifest.json", manifest.replace(manifest.find("false"), 5, "true"));
    write_histogram(dir.file("h"), tiny_study());
    const auto r = testsupport::run(MORV_QQ_BIN, {"morv-qq", "--histogram", dir.file("h"), "--results", dir.file("r.txt"),
                                                  "--out", dir.file("qq.png")}, "");
    std::string counts;
    for (const std::string& line : testsupport::lines_of(r.out))
        counts += line.substr(0, line.find(':')) + line.substr(line.find('(')) + "\n";
    EXPECT_EQ(counts, "lambda MC(4 tested, 0 left out)\nlambda MC permutations(8 tested, 0 left out)\n"
                      "lambda IT(2 tested, 2 left out)\nlambda IT permutations(1 tested, 7 left out)\n") << r.err;
}

TEST(Fdr, AnnotateKeepsTheRowsWithinTheQLimit)
{
    TempDir dir;
    write_ids(dir);
    const std::string results = dir.write("r.txt", kHeader + kLines);
    const std::string q[] = {"\t0.375\tNA\n", "\t0\t0\n", "\t0.333333\tNA\n", "\t0.25\t0\n"};
    const struct { double maxQ; std::vector<int> rows; } cases[] = {
        {HUGE_VAL, {0, 1, 2, 3}}, {0.375, {0, 1, 2, 3}}, {0.34, {1, 2, 3}}, {0.1, {1, 3}}};
    for (const auto& c : cases) {
        QColumns columns = read_q_columns(tiny_study(), "h");
        columns.max_q = c.maxQ;
        std::ostringstream out;
        annotate(results, read_prepared(dir.path), AnnotateFilter{}, out, false, nullptr, &columns);
        std::string want = kColumns + "\tq_mc\tq_it\n";
        for (int i : c.rows)
            want += kRows[i].substr(0, kRows[i].size() - 1) + q[i];
        EXPECT_EQ(out.str(), want) << c.maxQ;
    }
}

// A histogram without permutation scans, cut short, or of scans over other
// pairs; beside a result file, one of another run or without the file's rows.
TEST(Fdr, RefusesWhatDoesNotBelongTogether)
{
    const struct { bool annotate; void (*change)(Histogram&); std::size_t cut; std::string message; } cases[] = {
        {false, [](Histogram& h) { h.scans.resize(1), h.origin.permutations = 0; }, 0,
         "morv-fdr: DIR/h: the histogram has no permutation scans: run morv with --permutations K"},
        {false, [](Histogram&) {}, 4, "morv-fdr: the histogram DIR/h, line 42: expected \"end\", found \"\" (cut short"},
        {false, [](Histogram& h) { h.scans[2] = scan_of({"-0.500000"}, {}); }, 0,
         "morv-fdr: DIR/h: permutation scan 2 covers 1 pairs but the real scan 4"},
        {true, [](Histogram& h) { h.origin.threshold = 0.01; }, 0, "Error: the histogram DIR/h is not of the run that "
         "wrote DIR/r.txt: its threshold 0.01, but DIR/r.txt.manifest.json says 0.05"},
        {true, [](Histogram& h) { h.scans[0] = scan_of({"-0.700000", "-3.000000", "-1.400000", "-2.000000"}, {"-inf", "-1.900000"}); }, 0,
         "Error: DIR/r.txt line 4: its MC value -0.500000 lies where the histogram's real scan counted no pair"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        write_ids(dir);
        dir.write("r.txt", kHeader + kLines);
        dir.write("r.txt.manifest.json", kTinyManifest);
        Histogram h = tiny_study();
        c.change(h);
        const std::string text = histogram_text(h);
        dir.write("h", text.substr(0, text.size() - c.cut));
        const auto r = c.annotate ? testsupport::run(MORV_ANNOTATE_BIN, {"morv-annotate", "--results", dir.file("r.txt"),
                                                     "--prepared", dir.path, "--fdr", dir.file("h")}, "")
                                  : testsupport::run(MORV_FDR_BIN, {"morv-fdr", "--histogram", dir.file("h")}, "");
        std::string message = c.message;
        for (std::size_t at; (at = message.find("DIR")) != std::string::npos;)
            message.replace(at, 3, dir.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

// Every companion program answers -h and --help with its usage on standard output.
TEST(Programs, AnswerHelpWithTheirUsage)
{
    for (const std::string program : {MORV_PREPARE_BIN, MORV_MERGE_BIN, MORV_ANNOTATE_BIN, MORV_QQ_BIN,
                                      MORV_FDR_BIN, MORV_SIMULATE_BIN, MORV_PROOFS_BIN})
        for (const std::string option : {"-h", "--help"}) {
            const testsupport::RunResult r = testsupport::run(program, {program, option}, "");
            const std::string name = std::filesystem::path(program).filename();
            EXPECT_EQ(r.status, 0) << name << " " << option;
            EXPECT_EQ(r.err, "") << name << " " << option;
            EXPECT_NE(r.out.find("sage: " + name + " "), std::string::npos) << name << " " << option << ": " << r.out;
        }
}

}  // namespace
