#include "tests/support.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

void set_nonblocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

RunResult run(const std::string& program, const std::vector<std::string>& argv,
              const std::string& input)
{
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(program.c_str(), args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    set_nonblocking(in[1]);
    set_nonblocking(out[0]);
    set_nonblocking(err[0]);

    RunResult result;
    std::size_t written = 0;
    bool in_open = true, out_open = true, err_open = true;
    if (input.empty()) {
        close(in[1]);
        in_open = false;
    }
    char buf[65536];
    while (out_open || err_open) {
        std::vector<pollfd> fds;
        if (in_open) fds.push_back({in[1], POLLOUT, 0});
        if (out_open) fds.push_back({out[0], POLLIN, 0});
        if (err_open) fds.push_back({err[0], POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (const auto& p : fds) {
            if (!p.revents) continue;
            if (p.fd == in[1]) {
                ssize_t k = write(in[1], input.data() + written, input.size() - written);
                if (k > 0) written += static_cast<std::size_t>(k);
                if (k < 0 || written == input.size()) {
                    close(in[1]);
                    in_open = false;
                }
            } else {
                ssize_t k = read(p.fd, buf, sizeof buf);
                if (k > 0) {
                    (p.fd == out[0] ? result.out : result.err).append(buf, static_cast<std::size_t>(k));
                } else if (k == 0 || (k < 0 && errno != EAGAIN && errno != EINTR)) {
                    close(p.fd);
                    (p.fd == out[0] ? out_open : err_open) = false;
                }
            }
        }
    }
    if (in_open) close(in[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/morv-test-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

TempDir::~TempDir()
{
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
        // Leaving a scratch directory behind is harmless.
    }
}

std::string TempDir::write(const std::string& name, const std::string& content) const
{
    std::string p = file(name);
    std::ofstream f(p, std::ios::binary);
    f << content;
    return p;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::vector<double>> values_of(const std::string& expr)
{
    std::vector<std::vector<double>> genes;
    for (const std::string& line : lines_of(expr)) {
        std::istringstream in(line);
        genes.emplace_back();
        for (double v; in >> v;)
            genes.back().push_back(v);
    }
    return genes;
}

std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double from_bits(std::uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

std::uint64_t exact_samples_scale()
{
    const char* s = std::getenv("MORV_EXACT_SAMPLES");
    if (s == nullptr || *s == '\0')
        return 1;
    const unsigned long long k = std::strtoull(s, nullptr, 10);
    return k == 0 ? 1 : k;
}

}  // namespace testsupport
