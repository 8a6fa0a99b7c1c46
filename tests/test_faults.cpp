// Fault tests of the whole program, black box: output that cannot be written,
// inputs that are directories, overlong or binary, a very wide genotype file,
// interruption by a signal, and a start-up failure next to an old result
// file. The reference scan must behave as the shipped one where it applies.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.hpp"

namespace {

using testsupport::lines_of;
using testsupport::read_file;
using testsupport::RunResult;
using testsupport::TempDir;

const std::string kCannotWrite = "Error: Cannot write the output file.\n";
const std::string kCannotOpen = "Error: Cannot open the output file.\n";

// 3 samples, 2 SNPs, 3 genes: a complete run in a few milliseconds.
const std::string kGenotype = "A A\tC T\nA G\tT T\nG G\tC C\n";
const std::string kExpression = "5.12 4.8 6.25\n10.5 9.75 12.0\n1.5 2.5 3.5\n";
const std::string kAllele = "A\nC\n";

struct Program {
    const char* name;
    const char* path;
};
const Program kShipped{"morv", MORV_BIN};
const Program kReference{"reference", MORV_REFERENCE_BIN};

struct Files {
    std::string genotype, expression, allele;
};

Files write_inputs(const TempDir& dir, const std::string& genotype = kGenotype,
                   const std::string& expression = kExpression, const std::string& allele = kAllele)
{
    return {dir.write("genotype.txt", genotype), dir.write("expression.txt", expression),
            dir.write("allele.txt", allele)};
}

RunResult run_program(const Program& p, const Files& in, const std::string& output,
                      const std::string& threshold = "0.05\n")
{
    return testsupport::run(p.path,
                            {"morv", "-g", in.genotype, "-e", in.expression, "-a", in.allele, "-o",
                             output},
                            threshold);
}

bool is_one_error_line(const std::string& err)
{
    return err.rfind("Error: ", 0) == 0 && std::count(err.begin(), err.end(), '\n') == 1 &&
           err.back() == '\n';
}

std::string describe(const RunResult& r)
{
    return "status " + std::to_string(r.status) + ", signal " + std::to_string(r.signal) +
           ", stderr '" + r.err + "'";
}

// Deterministic bytes for the garbage inputs.
struct Lcg {
    std::uint64_t state;
    std::uint8_t next()
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint8_t>(state >> 56);
    }
};

std::string random_bytes(std::size_t size, std::uint64_t seed, const std::string& alphabet = "")
{
    Lcg rng{seed};
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        const std::uint8_t b = rng.next();
        c = alphabet.empty() ? static_cast<char>(b) : alphabet[b % alphabet.size()];
    }
    return bytes;
}

class EveryProgram : public ::testing::TestWithParam<Program> {};

INSTANTIATE_TEST_SUITE_P(Faults, EveryProgram, ::testing::Values(kShipped, kReference),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(EveryProgram, OutputToAFullDeviceFailsWithoutSuccessReport)
{
    if (!testsupport::file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const RunResult r = run_program(GetParam(), write_inputs(dir), "/dev/full");
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, kCannotWrite);
    EXPECT_EQ(r.out.find("#pairs"), std::string::npos);
}

TEST_P(EveryProgram, OutputInMissingDirectoryFailsAfterStartUp)
{
    TempDir dir;
    const RunResult r = run_program(GetParam(), write_inputs(dir), dir.file("missing/results.txt"));
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, kCannotOpen);
    // Start-up ran to its end: both tables were loaded and echoed.
    EXPECT_NE(r.out.find("read expressions... 5.12 4.8 6.25...\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Running..."), std::string::npos);
}

TEST_P(EveryProgram, OverlongFirstGenotypeLineIsRejected)
{
    TempDir dir;
    std::string line;
    line.reserve(4000006);
    while (line.size() <= 4000000)
        line += "A C ";
    const RunResult r = run_program(GetParam(), write_inputs(dir, line + "\n"), dir.file("out.txt"));
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, "Error: Absorted due to input error (genome data).\n");
    EXPECT_FALSE(testsupport::file_exists(dir.file("out.txt")));
}

// An input path that names a directory opens, and then fails at the first
// read, as a read error of that file.
struct DirectoryCase {
    const char* name;
    int which;  // 0 genotype, 1 expression, 2 allele
    const char* message;
};

const DirectoryCase kDirectoryCases[] = {
    {"genotype", 0, "Error: Aborted due to input error (genome data).\n"},
    {"expression", 1, "Error: Aborted due to input error (expression data).\n"},
    {"allele", 2, "Error: Aborted due to input error (allele data).\n"},
};

class DirectoryInput : public ::testing::TestWithParam<std::tuple<Program, DirectoryCase>> {};

TEST_P(DirectoryInput, FailsWithOneErrorLine)
{
    const auto& [program, c] = GetParam();
    TempDir dir;
    Files in = write_inputs(dir);
    std::string* paths[] = {&in.genotype, &in.expression, &in.allele};
    *paths[c.which] = dir.path();
    const RunResult r = run_program(program, in, dir.file("out.txt"));
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, c.message);
}

INSTANTIATE_TEST_SUITE_P(Faults, DirectoryInput,
                         ::testing::Combine(::testing::Values(kShipped, kReference),
                                            ::testing::ValuesIn(kDirectoryCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// NUL bytes and binary garbage in one of the files: either a fatal error with
// one line, or a complete run; never a crash.
struct GarbageCase {
    std::string name;
    int which;  // 0 genotype, 1 expression, 2 allele
    std::string content;
};

std::string with_byte(std::string text, std::size_t at, char c)
{
    text[at] = c;
    return text;
}

std::vector<GarbageCase> garbage_cases()
{
    const std::string valid[] = {kGenotype, kExpression, kAllele};
    const char* names[] = {"genotype", "expression", "allele"};
    const std::string noisy = std::string("AaCcGgTt \t\n\r.-+0123456789eEnN", 30) + '\0' + '\xff';
    std::vector<GarbageCase> cases;
    for (int f = 0; f < 3; ++f) {
        const std::string& v = valid[f];
        const std::string n = names[f];
        cases.push_back({n + "_nul_first", f, with_byte(v, 0, '\0')});
        cases.push_back({n + "_nul_second", f, with_byte(v, 1, '\0')});
        cases.push_back({n + "_nul_before_last_newline", f, with_byte(v, v.size() - 2, '\0')});
        cases.push_back({n + "_nul_appended", f, v + std::string(3, '\0')});
        cases.push_back({n + "_only_nul", f, std::string(64, '\0')});
        cases.push_back({n + "_binary", f, random_bytes(4096, 11 + f)});
        cases.push_back({n + "_binary_lines", f, random_bytes(2048, 23 + f, noisy)});
        cases.push_back({n + "_high_bytes", f, std::string(100, '\xff') + "\n"});
    }
    return cases;
}

class GarbageInput : public ::testing::TestWithParam<std::tuple<Program, GarbageCase>> {};

TEST_P(GarbageInput, EndsInOneErrorLineOrACompleteRun)
{
    const auto& [program, c] = GetParam();
    TempDir dir;
    std::string contents[] = {kGenotype, kExpression, kAllele};
    contents[c.which] = c.content;
    const RunResult r =
        run_program(program, write_inputs(dir, contents[0], contents[1], contents[2]),
                    dir.file("out.txt"));
    ASSERT_EQ(r.signal, 0) << describe(r);
    if (r.status == 0) {
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find("#pairs: "), std::string::npos);
    } else {
        EXPECT_EQ(r.status, 1) << describe(r);
        EXPECT_TRUE(is_one_error_line(r.err)) << describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, GarbageInput,
                         ::testing::Combine(::testing::Values(kShipped, kReference),
                                            ::testing::ValuesIn(garbage_cases())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// A start-up failure must not touch an existing result file: it is only
// truncated when the scan begins.
struct StartupFailure {
    const char* name;
    std::string genotype, expression, threshold;
    bool alleleMissing;
};

const StartupFailure kStartupFailures[] = {
    {"allele_file_missing", kGenotype, kExpression, "0.05\n", true},
    {"threshold_unreadable", kGenotype, kExpression, "abc\n", false},
    {"genotype_malformed", "AA\tC T\n", kExpression, "0.05\n", false},
    {"expression_not_a_number", kGenotype, "1 2 3\n4 NA 6\n1 2 3\n", "0.05\n", false},
    {"expression_too_short", kGenotype, "1 2 3\n4 5 6\n1 2\n", "0.05\n", false},
};

class StartupFailureOutput
    : public ::testing::TestWithParam<std::tuple<Program, StartupFailure>> {};

TEST_P(StartupFailureOutput, LeavesExistingResultFileUntouched)
{
    const auto& [program, c] = GetParam();
    TempDir dir;
    Files in = write_inputs(dir, c.genotype, c.expression);
    if (c.alleleMissing)
        in.allele = dir.file("no-such-allele.txt");
    const std::string previous = "Results of MORV:\nan earlier run\n";
    const std::string output = dir.write("results.txt", previous);
    // An old, exact time stamp: any write would move it.
    const timespec stamp[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, output.c_str(), stamp, 0), 0);

    const RunResult r = run_program(program, in, output, c.threshold);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(read_file(output), previous);
    struct stat st {};
    ASSERT_EQ(stat(output.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, stamp[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, stamp[1].tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(Faults, StartupFailureOutput,
                         ::testing::Combine(::testing::Values(kShipped, kReference),
                                            ::testing::ValuesIn(kStartupFailures)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// The widest genotype file the format allows (4,000,000 characters a line)
// loads and runs. The reference scan reads the allele file from its top for
// every SNP, which is quadratic here: only the shipped scan is run.
TEST(WideGenotype, MillionSnpsInThreeSamplesRun)
{
    const std::size_t snps = 1000000;
    TempDir dir;
    std::string genotype;
    genotype.reserve(3 * (4 * snps + 1));
    for (const char* pattern : {"A\tC\t", "A\tG\t", "G\tT\t"}) {
        for (std::size_t k = 0; k < snps; ++k)
            genotype += pattern;
        genotype += '\n';
    }
    std::string allele;
    allele.reserve(2 * snps);
    for (std::size_t k = 0; k < snps; ++k)
        allele += "A\n";
    const Files in = write_inputs(dir, genotype, "1 2 3\n4 5 7\n", allele);
    genotype.clear();
    allele.clear();

    const RunResult r = run_program(kShipped, in, dir.file("out.txt"));
    ASSERT_EQ(r.status, 0) << describe(r);
    EXPECT_NE(r.out.find("#SNPs : 1000000\n#genes: 2\nn     : 3\n"), std::string::npos);
    EXPECT_NE(r.out.find("#pairs: 1000000\n"), std::string::npos);
    const std::string result = read_file(dir.file("out.txt"));
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 3 + static_cast<long>(snps));
    EXPECT_NE(result.find("\n999999\t0\t1\t"), std::string::npos);
}

// Tables larger than the memory the process may use end in the allocation
// message and status 1, not in an abort.
TEST_P(EveryProgram, TablesTooLargeForMemoryFailWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit allows";
#else
    const std::size_t samples = 3000, genes = 1000;
    TempDir dir;
    std::string genotype, expression;
    for (std::size_t s = 0; s < samples; ++s)
        genotype += s % 3 == 0 ? "A\tA\n" : (s % 3 == 1 ? "A\tC\n" : "C\tC\n");
    expression.reserve(genes * samples * 8);
    for (std::size_t i = 0; i < genes * samples; ++i)
        expression += i % samples + 1 == samples ? "12.345\n" : "12.345 ";
    const Files in = write_inputs(dir, genotype, expression, "A\n");
    // About 60 MB of address space: the program itself fits, the 24 MB
    // table and the values read into it do not.
    const RunResult r = testsupport::run(
        "/bin/sh", {"sh", "-c", "ulimit -v 60000; exec \"$0\" -g \"$1\" -e \"$2\" -a \"$3\" -o \"$4\"",
                    GetParam().path, in.genotype, in.expression, in.allele, dir.file("out.txt")},
        "0.05\n");
    EXPECT_EQ(r.signal, 0) << describe(r);
    EXPECT_EQ(r.status, 1) << describe(r);
    EXPECT_EQ(r.err, "Error: Aborted due to allocation error.\n");
#endif
}

// Interruption: a long scan (every pair reaches the interaction test) is
// sent SIGTERM or SIGINT; the process must end by that signal and leave a
// result file that is a prefix of whole lines of the complete result.
constexpr int kSamples = 200, kGenes = 40, kSnps = 50;

struct LongScan {
    TempDir dir;
    Files in;
    std::string threshold;
};

void simulate(LongScan& s)
{
    const std::string prefix = s.dir.file("long");
    const RunResult r = testsupport::run(
        MORV_SIMULATE_BIN,
        {"morv-simulate", "--samples", std::to_string(kSamples), "--snps", std::to_string(kSnps),
         "--genes", std::to_string(kGenes), "--seed", "5", "--out", prefix},
        "");
    if (r.status != 0)
        ADD_FAILURE() << "simulator: " << describe(r);
    s.in = {prefix + ".geno", prefix + ".expr", prefix + ".allele"};
    s.threshold = s.dir.write("threshold.txt", "1\n");
}

// Made once for all the interruption tests.
const LongScan& long_scan()
{
    static LongScan scan;
    static const bool made = (simulate(scan), true);
    (void)made;
    return scan;
}

// Starts `program` with standard input from a file and output discarded, the
// two signals at their default action whatever this process inherited.
pid_t spawn(const std::string& program, const std::vector<std::string>& argv,
            const std::string& stdinPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(stdinPath.c_str(), O_RDONLY);
        const int null = open("/dev/null", O_WRONLY);
        if (in < 0 || null < 0)
            _exit(126);
        dup2(in, 0);
        dup2(null, 1);
        dup2(null, 2);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    return pid;
}

// Waits until the result file holds its three header lines (the scan has
// begun) or the process has ended. Returns false if it ended.
bool wait_for_scan(pid_t pid, const std::string& output, int& status)
{
    for (int i = 0; i < 6000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return false;
        const std::string text = read_file(output);
        if (std::count(text.begin(), text.end(), '\n') >= 3)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;  // the caller's checks will show what went wrong
}

// The complete result of the first `snps` SNPs: the genotype file cut to
// those SNPs gives exactly the lines the full run writes for them.
std::vector<std::string> complete_result(const LongScan& scan, int snps)
{
    std::string cut;
    for (const std::string& line : lines_of(read_file(scan.in.genotype)))
        cut += line.substr(0, 4 * static_cast<std::size_t>(snps)) + "\n";
    TempDir dir;
    const Files in{dir.write("genotype.txt", cut), scan.in.expression, scan.in.allele};
    const RunResult r = run_program(kShipped, in, dir.file("out.txt"), "1\n");
    EXPECT_EQ(r.status, 0) << describe(r);
    return lines_of(read_file(dir.file("out.txt")));
}

struct SignalCase {
    const char* name;
    int sig;
};

class Interrupted : public ::testing::TestWithParam<std::tuple<Program, SignalCase>> {};

TEST_P(Interrupted, EndsBySignalLeavingAValidPrefix)
{
    const auto& [program, c] = GetParam();
    const LongScan& scan = long_scan();
    TempDir dir;
    const std::string output = dir.file("out.txt");
    const pid_t pid = spawn(program.path,
                            {"morv", "-g", scan.in.genotype, "-e", scan.in.expression, "-a",
                             scan.in.allele, "-o", output},
                            scan.threshold);
    ASSERT_GT(pid, 0);
    int status = 0;
    const bool scanning = wait_for_scan(pid, output, status);
    if (scanning) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(pid, c.sig);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ASSERT_TRUE(scanning) << "ended before the scan was interrupted, status " << status;
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), c.sig);

    const std::string text = read_file(output);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "a partial last line";
    const std::vector<std::string> lines = lines_of(text);
    // The header and at least the lines finished before the signal.
    ASSERT_GE(lines.size(), 4u);
    const int lastSnp = std::stoi(lines.back().substr(0, lines.back().find('\t')));
    ASSERT_LT(lastSnp, kSnps);
    const std::vector<std::string> complete = complete_result(scan, lastSnp + 1);
    ASSERT_LE(lines.size(), complete.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], complete[i]) << "line " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Faults, Interrupted,
                         ::testing::Combine(::testing::Values(kShipped, kReference),
                                            ::testing::Values(SignalCase{"SIGTERM", SIGTERM},
                                                              SignalCase{"SIGINT", SIGINT})),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

}  // namespace
