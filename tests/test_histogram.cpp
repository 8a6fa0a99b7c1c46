// The histogram of every scanned pair and the scans of permuted genotypes:
// the file read back, the permutations, and the same counts whichever way a
// run is cut, threaded or written.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <unistd.h>

#include "driver/permutation.hpp"
#include "files/program_error.hpp"
#include "results/histogram.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

RunResult morv(const Inputs& in, const std::string& out, const std::vector<std::string>& options)
{
    std::vector<std::string> argv = morv_argv(in, out);
    argv.insert(argv.begin() + 1, options.begin(), options.end());
    return run(MORV_BIN, argv, "0.05\n");
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A histogram gives its own text back; a damaged one is refused, saying why.
TEST(HistogramFile, ReadsWhatItWritesAndRefusesDamage)
{
    Histogram h;
    h.origin = {"0123456789abcdef 0123456789abcdef 0123456789abcdef", 0.05, 10, 4, 3, 1, 2, 1, 9, "none"};
    h.scans.resize(2);
    for (HistogramScan& s : h.scans) {
        s.pairs = 12;
        s.mc.bins[0] = 5;
        s.mc.bins[kLastBin] = 6;
        s.mc.nan = 1;
        s.it.bins[130] = 2;
        s.it.nan = 1;
        s.it.untested = 9;
    }
    TempDir dir;
    write_histogram(dir.file("h"), h);
    const std::string text = read_file(dir.file("h"));
    EXPECT_EQ(histogram_text(read_histogram(dir.file("h"))), text);
    const struct {
        std::string from, to, why;
    } damage[] = {
        {"pairs 12\n", "pairs 13\n", "line 21: the counts of scan real do not add up to its 13 pairs"},
        {"mc 30000 6\n", "mc 30001 6\n", "bin 30001 is past the last bin"},
        {"it 130 2\n", "it 130 1\nit 12 1\n", "increasing order"},
        {"permutation 1\n", "permutation 2\n", "expected \"scan permutation 1\""},
        {"end\n", "", "cut short"},
    };
    for (const auto& d : damage) {
        std::string bad = text;
        bad.replace(bad.find(d.from), d.from.size(), d.to);
        try {
            read_histogram(dir.write("bad", bad));
            ADD_FAILURE() << d.why;
        } catch (const ProgramError& e) {
            EXPECT_NE(std::string(e.what()).find(d.why), std::string::npos) << e.what();
        }
    }
}

// A permutation is made again from its seed and k alone, differs for
// another, keeps each sample in its group, and stays as documented.
TEST(NullScans, PermutationsFollowTheSeedWithinGroups)
{
    const std::vector<unsigned> groups = {0, 1, 0, 2, 1, 0, 0, 2, 1, 0, 1, 2};
    for (const std::vector<unsigned>& groupOf : {std::vector<unsigned>{}, groups}) {
        std::set<std::vector<std::size_t>> seen;
        for (std::uint64_t seed : {1, 2})
            for (unsigned k : {1, 2, 3}) {
                const std::vector<std::size_t> rows = sample_permutation(seed, k, 12, groupOf);
                EXPECT_EQ(rows, sample_permutation(seed, k, 12, groupOf));
                std::vector<std::size_t> sorted = rows, all(12);
                std::sort(sorted.begin(), sorted.end());
                std::iota(all.begin(), all.end(), 0);
                EXPECT_EQ(sorted, all);
                for (std::size_t s = 0; s < rows.size() && !groupOf.empty(); ++s)
                    EXPECT_EQ(groupOf[rows[s]], groupOf[s]);
                seen.insert(rows);
            }
        EXPECT_EQ(seen.size(), 6u);
    }
    EXPECT_EQ(sample_permutation(5, 1, 8, {}), (std::vector<std::size_t>{7, 0, 3, 6, 1, 5, 4, 2}));
}

// Options that lack their companion, and bad groups, are named before the
// result file is touched.
TEST(NullScans, OptionFaultsAreNamed)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "6 2 3 9");
    const std::string hist = dir.file("h"), twice = dir.write("twice", "0 a\n1 a\n2 b\n3 b\n4 b\n5 b\n0 b\n");
    const struct {
        std::vector<std::string> options;
        std::string err;
    } cases[] = {
        {{"--permutations", "3", "--seed", "1"}, "Error: --permutations needs --histogram FILE: the permuted scans write only counts.\n"},
        {{"--histogram", hist, "--permutations", "3"}, "Error: --permutations needs --seed S, so the permuted scans can be made again.\n"},
        {{"--histogram", hist, "--permutations=0", "--seed", "1"}, "Error: --permutations takes a whole number from 1 to 100000, not \"0\".\n"},
        {{"--histogram", hist, "--permute-within", twice}, "Error: --permute-within needs --permutations K.\n"},
        {{"--histogram", hist, "--permutations", "1", "--seed", "1", "--permute-within", twice},
         "Error: --permute-within " + twice + ", line 7: sample \"0\" (row 0) is given a group twice.\n"},
    };
    for (const auto& c : cases) {
        const RunResult r = morv(in, dir.file("out.txt"), c.options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_NE(access(dir.file("out.txt").c_str(), F_OK), 0);
}

// The histogram's real scan counted from the result file's printed values.
HistogramScan counted_from(const std::string& resultText)
{
    HistogramScan c;
    const std::vector<std::string> lines = lines_of(resultText);
    for (std::size_t i = 3; i < lines.size(); ++i) {
        std::vector<std::string> f(1);
        for (char ch : lines[i])
            ch == '\t' ? f.emplace_back().clear() : f.back().push_back(ch);
        ++c.pairs;
        count_printed(c.mc, f[4].data(), f[4].data() + f[4].size());
        if (f[3] == "1")
            count_printed(c.it, f[6].data(), f[6].data() + f[6].size());
        else
            ++c.it.untested;
    }
    return c;
}

std::string without_line(std::string text, const std::string& key)
{
    const std::size_t at = text.find("\n" + key + " ");
    return text.erase(at + 1, text.find('\n', at + 1) - at);
}

// Any threads, the pruned lines left out or not, shards added by morv-merge
// (on data with lines of every flag):
// the same histogram, and the result file of the run without it.
TEST(NullScans, EveryWayOfRunningCountsAlike)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "40 6 30 7 --random-effects 0.3 --maf 0.4");
    ASSERT_EQ(morv(in, dir.file("classic.txt"), {}).status, 0);
    const std::string classic = read_file(dir.file("classic.txt"));
    const std::vector<std::string> nulls = {"--permutations", "2", "--seed", "5"};
    const RunResult whole = morv(in, dir.file("w.txt"), std::vector<std::string>{"--histogram", dir.file("w.hist")} + nulls);
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(read_file(dir.file("w.txt")) == classic);
    const std::string expected = read_file(dir.file("w.hist"));
    const Histogram h = read_histogram(dir.file("w.hist"));
    const HistogramScan printed = counted_from(classic);
    EXPECT_TRUE(h.scans[0].pairs == printed.pairs && h.scans[0].mc.bins == printed.mc.bins &&
                h.scans[0].it.bins == printed.it.bins && h.scans[0].it.untested == printed.it.untested);
    EXPECT_TRUE(h.scans[1].pairs == printed.pairs && h.scans[2].pairs == printed.pairs);
    EXPECT_NE(h.scans[1].it.bins, h.scans[0].it.bins);

    const struct {
        std::vector<std::string> options, shards;
    } ways[] = {
        {{"--threads", "2"}, {}},
        {{"--omit-pruned", "--threads", "3"}, {}},
        {{"--threads", "1"}, {"0-1", "2-4", "5-5"}},
        {{"--threads", "2"}, {"5-5", "0-0", "1-4"}},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.options[0] + " " + way.options[1] + " " + std::to_string(way.shards.size()));
        std::vector<std::string> merge = {"morv-merge", "-o", dir.file("m.txt"), "--histogram", dir.file("m.hist")};
        for (const std::string& range : way.shards) {
            const std::string shard = dir.file("s" + range);
            const std::vector<std::string> own = {"--snps", range, "--histogram", shard + ".hist"};
            ASSERT_EQ(morv(in, shard, way.options + own + nulls).status, 0);
            merge.push_back(shard);
        }
        if (way.shards.empty())
            ASSERT_EQ(morv(in, dir.file("m.txt"), way.options + std::vector<std::string>{"--histogram", dir.file("m.hist")} + nulls).status, 0);
        else
            ASSERT_EQ(run(MORV_MERGE_BIN, merge, "").status, 0);
        EXPECT_TRUE(read_file(dir.file("m.hist")) == expected);
        EXPECT_TRUE(way.options[0] == "--omit-pruned" || read_file(dir.file("m.txt")) == classic);
    }
    // A shard's histogram must be the very file its run wrote.
    const std::string changed = dir.write("s1-4.hist", read_file(dir.file("s1-4.hist")) + "\n");
    const RunResult refused = run(MORV_MERGE_BIN, {"m", "-o", dir.file("n.txt"), "--histogram", dir.file("n.hist"),
                                                   dir.file("s0-0"), dir.file("s1-4"), dir.file("s5-5")}, "");
    EXPECT_EQ(refused.err, "morv-merge: " + changed + " is not the histogram the run of " + dir.file("s1-4") +
                               " wrote (its checksum differs from the manifest's)\n");

    // Another seed: the real scan alike, the permuted ones not.
    const auto counts = [&](const std::vector<std::string>& options) {
        EXPECT_EQ(morv(in, dir.file("m.txt"), std::vector<std::string>{"--histogram", dir.file("m.hist")} + options).status, 0);
        return read_file(dir.file("m.hist"));
    };
    const std::size_t real = expected.find("scan real"), permuted = expected.find("scan permutation 1");
    const std::string other = counts({"--permutations", "2", "--seed", "6"});
    EXPECT_EQ(other.substr(real, permuted - real), expected.substr(real, permuted - real));
    EXPECT_NE(other.substr(other.find("scan permutation 1")), expected.substr(permuted));

    // Within one group: the permutations without groups. Two groups, by
    // row or by the IDs of samples.tsv: alike, and other permutations.
    std::string one = "sample group\n", byRow, byId, table = "index\tgenotype_id\texpression_id\n";
    for (int s = 0; s < 40; ++s) {
        const std::string id = std::to_string(s), group = s % 3 ? " a\n" : " b\n";
        one += id + " all\n";
        byRow += id + group;
        byId += "G" + id + group;
        table += id + "\tG" + id + "\tE" + id + "\n";
    }
    dir.write("samples.tsv", table);
    EXPECT_EQ(without_line(counts(nulls + std::vector<std::string>{"--permute-within", dir.write("one", one)}), "within"),
              without_line(expected, "within"));
    const std::string grouped = counts(nulls + std::vector<std::string>{"--permute-within", dir.write("row", byRow)});
    EXPECT_EQ(counts(nulls + std::vector<std::string>{"--permute-within", dir.write("id", byId)}), grouped);
    EXPECT_NE(grouped.substr(grouped.find("scan permutation 1")), expected.substr(permuted));
}

}  // namespace
