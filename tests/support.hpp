#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <vector>

// What the tests share: running a built program, scratch files, bit patterns.
namespace testsupport {

struct RunResult {
    std::string out, err;
    int status = -1;  // exit status, or -1 when killed by a signal
    int signal = 0;   // the signal that ended it, 0 otherwise
};

// A program started with `input` on standard input, standard output and
// error going to scratch files, SIGINT and SIGTERM at their default action.
struct Started {
    pid_t pid;
    int out, err;
};
Started start(const std::string& program, const std::vector<std::string>& argv, const std::string& input);
RunResult finish(const Started& started);  // waits for the end
inline RunResult run(const std::string& program, const std::vector<std::string>& argv, const std::string& input)
{
    return finish(start(program, argv, input));
}

// A fresh directory, removed with its contents at the end of the scope.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const;
    std::string path;
};

std::string read_file(const std::string& path);
std::vector<std::string> lines_of(const std::string& text);  // without their newlines

// The input files of a run, the argv that runs morv on them, and the files
// morv-simulate (at `simulator`) writes for "samples snps genes seed [options]".
struct Inputs {
    std::string geno, expr, allele;
};
Inputs write_inputs(const TempDir& dir, const std::string& geno, const std::string& expr, const std::string& allele);
inline std::vector<std::string> morv_argv(const Inputs& in, const std::string& output)
{
    return {"morv", "-g", in.geno, "-e", in.expr, "-a", in.allele, "-o", output};
}
Inputs simulate(const std::string& simulator, const TempDir& dir, const std::string& recipe);

inline std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline double from_bits(std::uint64_t b)
{
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

// MORV_EXACT_SAMPLES=k multiplies the sample counts of the exactness tests
// by k for a long run; 1 when unset.
std::uint64_t exact_samples_scale();

}  // namespace testsupport
