#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Helpers for the black-box tests: run a built program and capture what it
// printed, and make scratch files that vanish with the test.
namespace testsupport {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;      // exit status, or -1 when killed by a signal
    int signal = 0;       // the signal that ended it, 0 otherwise
};

// Runs `program` with the given argv (argv[0] included) and `input` on its
// standard input. Standard output and error are captured separately.
RunResult run(const std::string& program, const std::vector<std::string>& argv,
              const std::string& input);

// A fresh directory under the system temporary directory, removed with its
// contents when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes `content` to a file named `name` inside the directory and
    // returns its full path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// The lines of a text, without their newlines.
std::vector<std::string> lines_of(const std::string& text);

// The numbers of an expression file's text, one vector per gene line.
std::vector<std::vector<double>> values_of(const std::string& expr);

// The bit pattern of a double and back: exactness tests compare bits.
std::uint64_t bits_of(double v);
double from_bits(std::uint64_t b);

// MORV_EXACT_SAMPLES=k multiplies the sample counts of the exactness tests
// by k for a long proof run; 1 when unset.
std::uint64_t exact_samples_scale();

}  // namespace testsupport
