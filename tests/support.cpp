#include "tests/support.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// An unnamed scratch file holding `content`, read from its start.
int scratch_file(const std::string& content)
{
    const int fd = memfd_create("morv-test", MFD_CLOEXEC);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        throw std::runtime_error("no scratch file");
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string contents(int fd)
{
    const std::string text = read_file("/proc/self/fd/" + std::to_string(fd));
    close(fd);
    return text;
}

}  // namespace

Started start(const std::string& program, const std::vector<std::string>& argv, const std::string& input)
{
    const int in = scratch_file(input);
    const Started s{0, scratch_file(""), scratch_file("")};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(s.out, 1);
        dup2(s.err, 2);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    close(in);
    return {pid, s.out, s.err};
}

RunResult finish(const Started& s)
{
    int status = 0;
    while (waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {contents(s.out), contents(s.err), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

TempDir::TempDir() : path((std::filesystem::temp_directory_path() / "morv-test-XXXXXX").string())
{
    if (!mkdtemp(path.data()))
        throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ignored;  // a scratch directory left behind is harmless
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream(file(name), std::ios::binary) << content;
    return file(name);
}

std::string read_file(const std::string& path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Inputs write_inputs(const TempDir& dir, const std::string& geno, const std::string& expr, const std::string& allele)
{
    return {dir.write("g.txt", geno), dir.write("e.txt", expr), dir.write("a.txt", allele)};
}

Inputs simulate(const std::string& simulator, const TempDir& dir, const std::string& recipe)
{
    const char* shape[] = {"--samples", "--snps", "--genes", "--seed"};
    std::istringstream words(recipe);
    std::vector<std::string> argv = {simulator, "--out", dir.file("sim")};
    for (std::string w; words >> w; argv.push_back(w))
        if (argv.size() < 11)
            argv.push_back(shape[(argv.size() - 3) / 2]);
    if (run(simulator, argv, "").status != 0)
        throw std::runtime_error("morv-simulate failed: " + recipe);
    return {dir.file("sim.geno"), dir.file("sim.expr"), dir.file("sim.allele")};
}

std::uint64_t exact_samples_scale()
{
    const char* s = std::getenv("MORV_EXACT_SAMPLES");
    const unsigned long long k = s ? std::strtoull(s, nullptr, 10) : 0;
    return k == 0 ? 1 : k;
}

}  // namespace testsupport
