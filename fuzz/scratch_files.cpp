#include "fuzz/scratch_files.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

std::string make_scratch_dir()
{
    std::error_code ec;
    const std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/morv-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return name.data();
}

const std::string& scratch_dir()
{
    static const std::string dir = make_scratch_dir();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_dir(), ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

}  // namespace

std::string write_scratch(const char* name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = scratch_dir() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    // A scratch file that cannot be written is a broken harness, not a finding
    // about the input: stop loudly.
    if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

std::string write_scratch(const char* name, const std::string& text)
{
    return write_scratch(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
