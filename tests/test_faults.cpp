// Faults that end a run part way, seen from outside: morv must end exactly as
// the reference does (standard output and error, status, result file), and
// both as the messages say: allele faults found mid-scan, result files that
// cannot be written, tables too large for memory, interruption by a signal.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "tests/support.hpp"

namespace {

using namespace testsupport;

const std::string kCannotWrite = "Error: Cannot write the output file.\n";
const std::string kData = "Error: Invalid data in allele data.\n", kFormat = "Error: Invalid format in allele data.\n";

struct Outcome {
    RunResult run;
    std::string result;  // the result file
};

// Runs `program` on `in` through a shell that sets `limits` first. A device
// given as the result file is neither removed nor read back.
Outcome run_program(const std::string& program, const Inputs& in, const std::string& output, const std::string& limits,
                    const std::vector<std::string>& options = {})
{
    const bool device = output.rfind("/dev/", 0) == 0;
    if (!device)
        std::remove(output.c_str());
    std::vector<std::string> argv = morv_argv(in, output);
    argv[0] = program;
    argv.insert(argv.begin() + 1, options.begin(), options.end());
    argv.insert(argv.begin(), {"sh", "-c", limits + " exec \"$0\" \"$@\""});
    const RunResult r = run("/bin/sh", argv, "0.5\n");
    return {r, device ? "" : read_file(output)};
}

// Both programs on the same input, morv also on three threads; returns the
// reference's outcome.
Outcome expect_same(const Inputs& in, const std::string& output, const std::string& limits = "")
{
    const Outcome ref = run_program(MORV_REFERENCE_BIN, in, output, limits);
    for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--threads", "3"}}) {
        SCOPED_TRACE(options.empty() ? "morv" : "morv --threads 3");
        const Outcome fast = run_program(MORV_BIN, in, output, limits, options);
        EXPECT_EQ(fast.run.status, ref.run.status);
        EXPECT_EQ(fast.run.signal, ref.run.signal);
        EXPECT_EQ(fast.run.err, ref.run.err);
        EXPECT_EQ(fast.run.out, ref.run.out);
        EXPECT_TRUE(fast.result == ref.result) << fast.result.size() << " bytes of results against " << ref.result.size();
    }
    return ref;
}

// The fast scan reads the allele file front to back once and holds up to 1 MiB
// of lines; the reference reopens it per SNP and appends line by line.
TEST(Faults, AlleleFaultsDuringTheScan)
{
    std::string late;
    for (int k = 0; k < 22; ++k)
        late += k == 20 ? "X\n" : "A\n";
    const struct {
        unsigned genes;      // of 12 samples and 4 SNPs; 65 genes: 6 samples, 22 SNPs
        std::string allele;  // "<dir>": the allele path names a directory
        unsigned goodSnps;   // SNPs whose lines precede the fault
        std::string err;
    } cases[] = {
        {9, "N\nC\nG\nT\n", 0, kData},          {9, "A\nC\nN\nT\n", 2, kData},
        {9, "A\nC\nG    \nT\n", 2, kFormat},    {9, "A\nC\nG\nTTTTTTTTT\n", 3, kFormat},
        {9, "A\nCCCCCCC\nG\n", 1, kFormat},     {9, "A\nC\n\nT\n", 2, kData},
        {9, "A\nC\n", 2, kData},                {9, "", 0, kData},
        {9, "A\nC\nG\nT", 4, ""},               {9, "<dir>", 0, "Error: Aborted due to input error (allele data).\n"},
        {9, "A \nc  \nG   \nT\tx\n", 4, ""},     {9, "A\r\nC\r\nG\r\nT\r\n", 4, ""},
        {9, std::string("A\0\0\nC\nG\0\0\0\0\nT\n", 14), 2, kFormat}, {9, std::string("A\n\0\nG\nT\n", 8), 1, kData},
        {1, "A\nX\nG\nT\n", 1, kData},  // without pairs the allele file is still read
        {65, late, 20, kData},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.allele);
        Inputs in = simulate(MORV_SIMULATE_BIN, dir, c.genes == 65 ? "6 22 65 41" : "12 4 " + std::to_string(c.genes) + " 41");
        in.allele = c.allele == "<dir>" ? dir.path : dir.write("a.txt", c.allele);
        const Outcome ref = expect_same(in, dir.file("out.txt"));
        EXPECT_EQ(ref.run.err, c.err);
        EXPECT_EQ(ref.run.status, c.err.empty() ? 0 : 1);
        EXPECT_EQ(lines_of(ref.result).size(), 3 + c.goodSnps * c.genes * (c.genes - 1) / 2);
    }
}

TEST(Faults, ResultFileThatCannotBeWritten)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "8 3 33 42");
    const Outcome full = expect_same(in, "/dev/full");
    EXPECT_EQ(full.run.err, kCannotWrite);
    EXPECT_EQ(full.run.out.find("#pairs"), std::string::npos);
    // The result file is created only after start-up.
    const Outcome missing = expect_same(in, dir.file("missing/out.txt"));
    EXPECT_EQ(missing.run.err, "Error: Cannot open the output file.\n");
    EXPECT_NE(missing.run.out.find("read expressions..."), std::string::npos);
    EXPECT_EQ(missing.run.out.find("Running..."), std::string::npos);
    // A file size limit of 20 KiB stops the run inside the lines: with its
    // signal ignored the write fails, otherwise the signal ends the run.
    const Outcome failed = expect_same(in, dir.file("out.txt"), "trap '' XFSZ; ulimit -f 40;");
    EXPECT_EQ(failed.run.err, kCannotWrite);
    EXPECT_EQ(failed.result.size(), 20480u);
    EXPECT_NE(failed.run.out.find("Running..."), std::string::npos);
    EXPECT_EQ(expect_same(in, dir.file("out.txt"), "ulimit -f 40;").run.signal, SIGXFSZ);
}

TEST(Faults, TablesTooLargeForMemoryEndWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit allows";
#endif
    std::string genotype, expression;
    for (int s = 0; s < 3000; ++s)
        genotype += s % 3 == 0 ? "A\tA\n" : (s % 3 == 1 ? "A\tC\n" : "C\tC\n");
    for (int i = 0; i < 3000 * 1000; ++i)
        expression += i % 3000 == 2999 ? "12.345\n" : "12.345 ";
    TempDir dir;
    // 24 MB of address space: the programs fit (from about 13 MB), the 24 MB
    // table does not (from about 33 MB it does).
    const Outcome r = expect_same(write_inputs(dir, genotype, expression, "A\n"), dir.file("out.txt"), "ulimit -v 24000;");
    EXPECT_EQ(r.run.status, 1);
    EXPECT_EQ(r.run.err, "Error: Aborted due to allocation error.\n");
    // Threads whose stacks do not fit the address space: the same message,
    // never an abort, and only whole lines in the file.
    const Inputs small = simulate(MORV_SIMULATE_BIN, dir, "40 6 30 41");
    ASSERT_EQ(run(MORV_BIN, morv_argv(small, dir.file("full.txt")), "0.5\n").status, 0);
    const std::string full = read_file(dir.file("full.txt"));
    for (const char* threads : {"2", "100", "1000"}) {
        SCOPED_TRACE(threads);
        const Outcome t = run_program(MORV_BIN, small, dir.file("out.txt"), "ulimit -s 8192; ulimit -v 400000;",
                                      {"--threads", threads});
        EXPECT_EQ(t.run.status, threads[1] ? 1 : 0);
        EXPECT_EQ(t.run.err, threads[1] ? "Error: Aborted due to allocation error.\n" : "");
        EXPECT_TRUE(t.result.size() >= 3 && full.compare(0, t.result.size(), t.result) == 0);
    }
}

bool running(pid_t pid)
{
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    return info.si_pid == 0;
}

// Both programs, interrupted, end by the signal, leaving the header and whole
// lines that begin the complete result. The result file is a FIFO (held open
// read-write, so never blocking nor ending) that the test stops reading after
// a first line: the program is then mid-scan, soon blocked, however fast the
// machine. The signal is sent, then the FIFO drained until the program ends.
TEST(Faults, InterruptionLeavesTheLinesBeforeIt)
{
    TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "6 50 65 43");
    ASSERT_EQ(run(MORV_REFERENCE_BIN, morv_argv(in, dir.file("full.txt")), "0\n").status, 0);
    const std::string full = read_file(dir.file("full.txt")), fifo = dir.file("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string options : {"", "--threads", "--bgzip", MORV_REFERENCE_BIN}) {
        const std::string program = options == MORV_REFERENCE_BIN ? options : MORV_BIN;
        std::vector<std::string> argv = morv_argv(in, fifo);
        if (options == "--threads" || options == "--bgzip")
            argv.insert(argv.begin() + 1, {"--threads", "3"});
        if (options == "--bgzip")
            argv.insert(argv.begin() + 1, options);
        for (int sig : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(program + " " + options + ", signal " + std::to_string(sig));
            const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            fcntl(fd, F_SETPIPE_SZ, 65536);
            const Started p = start(program, argv, "0\n");
            std::string result;
            char chunk[4096];
            const auto read_chunk = [&] {
                const ssize_t k = read(fd, chunk, sizeof chunk);
                result.append(chunk, k > 0 ? static_cast<std::size_t>(k) : 0);
                return k > 0;
            };
            pollfd ready{fd, POLLIN, 0};
            while (std::count(result.begin(), result.end(), '\n') < 4 && running(p.pid))
                if (poll(&ready, 1, 100) > 0)
                    read_chunk();
            // Beyond what was read and the pipe, more than the fast scan holds
            // in finished units remains: it writes, and sees the signal.
            ASSERT_GT(full.size(), result.size() + fcntl(fd, F_GETPIPE_SZ) + 2 * ((1u << 20) + 1024));
            kill(p.pid, sig);
            for (bool ended = false; !ended;) {
                ended = !running(p.pid);
                while (read_chunk()) {
                }
                if (!ended)
                    poll(&ready, 1, 100);
            }
            close(fd);
            if (options == "--bgzip") {
                // Blocks of whole lines, without the end block: it still reads.
                dir.write("cut.gz", result);
                gzFile f = gzopen(dir.file("cut.gz").c_str(), "rb");
                result.clear();
                for (int k; (k = gzread(f, chunk, sizeof chunk)) > 0;)
                    result.append(chunk, static_cast<std::size_t>(k));
                gzclose(f);
            }
            const RunResult r = finish(p);
            EXPECT_EQ(r.signal, sig) << "status " << r.status << " " << r.err;
            EXPECT_EQ(r.err, "");
            const std::vector<std::string> lines = lines_of(result);
            ASSERT_GE(lines.size(), 4u);
            EXPECT_EQ(result.back(), '\n');
            EXPECT_EQ(full.compare(0, result.size(), result), 0);
            // The fast scan stops after a finished unit: at the end of a gene row.
            const std::size_t g2 = lines.back().find('\t', lines.back().find('\t') + 1) + 1;
            if (program == MORV_BIN) {
                EXPECT_EQ(lines.back().substr(g2, lines.back().find('\t', g2) - g2), "64") << lines.back();
            }
        }
    }
}

}  // namespace
