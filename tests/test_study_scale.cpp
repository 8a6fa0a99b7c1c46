// Runs at study scale must write what the classic single-thread run writes:
// on any number of threads, cut into SNP ranges and merged, without the
// pruned lines, block-gzipped. And the classic run must stay as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <pty.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "driver/scan_plan.hpp"
#include "results/large_buffers.hpp"
#include "simd/isa.hpp"
#include "tests/support.hpp"

namespace {

using namespace testsupport;

// Every unit in order covers each SNP's rows once, in order, on row-block
// boundaries; whole SNPs are grouped only when a SNP has few pairs.
TEST(ScanPlan, UnitsVisitEveryPairOnceInOrder)
{
    const struct {
        unsigned first, end;
        std::size_t genes;
        std::uint64_t target;
    } cases[] = {{0, 7, 65, 300}, {3, 40, 12, 200}, {5, 6, 2000, 1024}, {0, 3, 9, 1}, {2, 2, 50, 100}, {0, 4, 1, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.genes);
        const ScanPlan plan = plan_scan(c.first, c.end, c.genes, c.target, 8);
        unsigned snp = c.first;
        std::size_t row = 0;
        std::uint64_t pairs = 0;
        for (std::size_t u = 0; u < plan.units; ++u) {
            const ScanUnit unit = unit_at(plan, u);
            ASSERT_EQ(unit.snpBegin, snp);
            ASSERT_EQ(unit.rowBegin, row);
            EXPECT_TRUE(unit.rowEnd == c.genes - 1 || unit.rowEnd % 8 == 0);
            ASSERT_GT(unit.rowEnd, unit.rowBegin);
            EXPECT_TRUE(unit.snpEnd == unit.snpBegin + 1 || (unit.rowBegin == 0 && unit.rowEnd == c.genes - 1));
            pairs += unit_pairs(plan, unit);
            row = unit.rowEnd == c.genes - 1 ? 0 : unit.rowEnd;
            snp = row == 0 ? unit.snpEnd : unit.snpBegin;
        }
        EXPECT_EQ(snp, c.genes > 1 ? std::max(c.first, c.end) : c.first);
        EXPECT_EQ(pairs, plan_pairs(plan));
        EXPECT_EQ(pairs, std::uint64_t(c.end - c.first) * c.genes * (c.genes - 1) / 2);
    }
}

RunResult morv(const Inputs& in, const std::string& out, std::vector<std::string> options,
               const std::string& threshold = "0.05\n")
{
    std::vector<std::string> argv = morv_argv(in, out);
    argv.insert(argv.begin() + 1, options.begin(), options.end());
    return run(MORV_BIN, argv, threshold);
}

// The counts morv prints at the end.
std::string counts(const std::string& out)
{
    return out.substr(std::min(out.size(), out.find("#pairs: ")));
}

std::string gunzip(const std::string& path)
{
    gzFile f = gzopen(path.c_str(), "rb");
    std::string text;
    char chunk[65536];
    for (int k; f && (k = gzread(f, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(k));
    if (f)
        gzclose(f);
    return text;
}

// The file without the lines of flag 0 (the fourth field).
std::string without_flag0(const std::string& text)
{
    std::string kept;
    std::size_t line = 0;
    for (const std::string& l : lines_of(text)) {
        std::size_t flag = 0;
        for (int k = 0; k < 3; ++k)
            flag = l.find('\t', flag) + 1;
        if (line++ < 3 || l.compare(flag, 2, "0\t") != 0)
            kept += l + "\n";
    }
    return kept;
}

// The large buffers: 2 MiB-aligned, zero-filled and wholly usable at sizes
// around the rounding; a neighbour survives the release of another; a vector
// growing across the threshold keeps its contents (released by the path that
// allocated it).
TEST(LargeBuffers, AlignedZeroedWholeAndReleasedAlone)
{
    for (std::size_t bytes : {kLargeBytes, kHugePage - 1, kHugePage, kHugePage + 4097, 3 * kHugePage}) {
        char* a = static_cast<char*>(map_large(bytes));
        char* b = static_cast<char*>(map_large(bytes));
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % kHugePage, 0u) << bytes;
        EXPECT_EQ(a[0] | a[bytes - 1] | b[bytes / 2], 0) << bytes;
        std::memset(a, 'a', bytes);
        std::memset(b, 'b', bytes);
        unmap_large(b, bytes);
        EXPECT_EQ(a[0] + a[bytes - 1], 2 * 'a') << bytes;
        unmap_large(a, bytes);
    }
    TextBuffer text;
    for (std::size_t size = 1000; size < 3 * kLargeBytes; size *= 3) {
        const std::size_t old = text.size();
        text.resize(size);
        for (std::size_t i = old; i < size; ++i)
            text[i] = char(i % 251);
    }
    std::size_t i = 0;
    while (i < text.size() && text[i] == char(i % 251))
        ++i;
    EXPECT_EQ(i, text.size());
}

// Data where many pairs reach the interaction test, in both unit shapes: 65
// genes (a SNP's rows split across units) and 12 genes (SNPs grouped).
TEST(StudyScale, EveryWayOfRunningWritesTheClassicFile)
{
    for (const std::string recipe : {"40 6 65 7 --random-effects 0.01 --maf 0.4", "30 40 12 8 --random-effects 0.01"}) {
        SCOPED_TRACE(recipe);
        TempDir dir;
        const Inputs in = simulate(MORV_SIMULATE_BIN, dir, recipe);
        const RunResult classic = morv(in, dir.file("classic.txt"), {});
        ASSERT_EQ(classic.status, 0);
        const std::string full = read_file(dir.file("classic.txt"));
        ASSERT_NE(full.find("\t1\t"), std::string::npos);
        const unsigned snps = recipe[3] == '6' ? 6 : 40;

        for (const char* threads : {"1", "2", "3", "7"}) {
            SCOPED_TRACE(threads);
            const RunResult r = morv(in, dir.file("t.txt"), {"--threads", threads});
            EXPECT_EQ(counts(r.out), counts(classic.out));
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(read_file(dir.file("t.txt")) == full);
            const RunResult o = morv(in, dir.file("o.txt"), {"--omit-pruned", "--threads", threads});
            EXPECT_EQ(counts(o.out), counts(classic.out));
            EXPECT_TRUE(read_file(dir.file("o.txt")) == without_flag0(full));
            const RunResult z = morv(in, dir.file("z.txt.gz"), {"--bgzip", "--threads", threads});
            EXPECT_EQ(counts(z.out), counts(classic.out));
            EXPECT_TRUE(gunzip(dir.file("z.txt.gz")) == full);
        }

        // One-SNP shards, and uneven ones, given in reverse order; merged,
        // plain and compressed.
        for (const std::vector<std::string>& format : {std::vector<std::string>{}, {"--bgzip"}}) {
            for (unsigned cut : snps == 6 ? std::vector<unsigned>{1, 4} : std::vector<unsigned>{7}) {
                std::vector<std::string> merge = {"morv-merge", "-o", dir.file("merged")};
                for (unsigned first = 0; first < snps; first += cut) {
                    const std::string range = std::to_string(first) + "-" + std::to_string(std::min(first + cut, snps) - 1);
                    std::vector<std::string> options = {"--snps", range, "--threads", "2"};
                    options.insert(options.end(), format.begin(), format.end());
                    ASSERT_EQ(morv(in, dir.file("s" + range), options).status, 0) << range;
                    merge.insert(merge.begin() + 3, dir.file("s" + range));
                }
                const RunResult m = run(MORV_MERGE_BIN, merge, "");
                ASSERT_EQ(m.status, 0) << m.err;
                EXPECT_EQ(m.out, counts(classic.out));
                EXPECT_TRUE((format.empty() ? read_file(dir.file("merged")) : gunzip(dir.file("merged"))) == full);
            }
        }
    }
}

// The option words are taken out before the classic parsing sees argv, but
// never the argument of a classic option; bad values are named.
TEST(StudyScale, OptionsAndTheirFaults)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "10 3 4 9");
    const std::string out = dir.file("out.txt");
    const struct {
        std::vector<std::string> options;
        int status;
        std::string err;
        bool companions;  // the record and manifest beside the file afterwards
    } cases[] = {
        {{"--threads", "0"}, 1, "Error: --threads takes a whole number from 1 to 1024, not \"0\".\n", false},
        {{"--threads=2x"}, 1, "Error: --threads takes a whole number from 1 to 1024, not \"2x\".\n", false},
        {{"--snps", "2-1"}, 1, "Error: --snps takes FIRST-LAST, two SNP indices counted from 0 with FIRST <= LAST, not \"2-1\".\n", false},
        {{"--snps=1-3"}, 1, "Error: --snps 1-3 is outside the genotype file's SNPs 0-2.\n", false},
        {{"--snps=1-2", "--omit-pruned", "--threads=2"}, 0, "", true},
        {{"-o", "--bgzip"}, 0, "", false},  // a file name; the later -o wins; a classic run leaves no stale record
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0]);
        const RunResult r = morv(in, out, c.options);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(access((out + ".shard").c_str(), F_OK) == 0, c.companions);
        EXPECT_EQ(access((out + ".manifest.json").c_str(), F_OK) == 0, c.companions);
        if (!c.companions)
            continue;
        // The manifest counts the lines the file holds; the record too.
        const auto manifest = nlohmann::json::parse(read_file(out + ".manifest.json"));
        const std::size_t lines = lines_of(read_file(out)).size() - 3;
        EXPECT_TRUE(manifest["complete"] == true && manifest["output"]["lines"] == lines &&
                    manifest["omit_pruned"] == true && manifest["threads"] == 2 && manifest["threshold"] == 0.05)
            << manifest.dump();
        EXPECT_NE(read_file(out + ".shard").find("\nlines " + std::to_string(lines) + "\n"), std::string::npos);
    }
    EXPECT_EQ(read_file(out).substr(0, 17), "Results of MORV:\n");
    // A manifest path taken by a folder is refused before the file is touched.
    const std::string before = read_file(out);
    ASSERT_EQ(mkdir((out + ".manifest.json").c_str(), 0700), 0);
    const RunResult taken = morv(in, out, {"--threads", "2"});
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.err.find(".manifest.json exists and is a folder, not a regular file"), std::string::npos) << taken.err;
    EXPECT_TRUE(read_file(out) == before);
}

// Standard error of morv when it is a pseudo-terminal (standard input and
// output are files).
std::string stderr_on_terminal(const Inputs& in, const TempDir& dir, const std::vector<std::string>& options)
{
    std::vector<std::string> words = morv_argv(in, dir.file("out.txt"));
    words.insert(words.begin() + 1, options.begin(), options.end());
    const std::string input = dir.write("threshold", "0.05\n");
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        if (!std::freopen(input.c_str(), "r", stdin) || !std::freopen("/dev/null", "w", stdout))
            _exit(126);
        execv(MORV_BIN, argv.data());
        _exit(127);
    }
    std::string text;
    char chunk[4096];
    for (ssize_t k; (k = read(terminal, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(k));
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    EXPECT_EQ(status, 0);
    return text;
}

// The progress line is only for a terminal, erased at the end, and only in
// runs that use the study options: a classic run prints nothing mid-scan.
TEST(StudyScale, ProgressLineOnlyOnATerminal)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "10 3 6 9");
    const std::string shown = stderr_on_terminal(in, dir, {"--threads", "2"});
    EXPECT_EQ(shown.rfind("\rmorv: 0 of 45 pairs (0.0%), 0 pairs/s, 0:00:00 elapsed, --:--:-- left, " +
                              std::string(isa_name(best_isa())) + "\033[K", 0), 0u) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K");
    EXPECT_EQ(stderr_on_terminal(in, dir, {}), "");
    EXPECT_EQ(morv(in, dir.file("out.txt"), {"--threads", "2"}).err, "");
}

}  // namespace
