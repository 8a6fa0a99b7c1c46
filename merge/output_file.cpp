#include "merge/output_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "files/program_error.hpp"

namespace {

std::string temporary_beside(const std::string& path)
{
    const std::filesystem::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + ".merging")).string();
}

void write_all(int fd, const char* data, std::size_t size, const std::string& shown)
{
    while (size > 0) {
        const ssize_t k = ::write(fd, data, size);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            throw ProgramError("cannot write " + shown + ": " + std::strerror(k < 0 ? errno : ENOSPC));
        data += k;
        size -= static_cast<std::size_t>(k);
    }
}

}  // namespace

OutputFile::OutputFile(const std::string& p, std::size_t bufferBytes)
    : path(p), temporary(temporary_beside(p)), buffer(bufferBytes)
{
    // A fresh file: whatever an interrupted merge left under the temporary
    // name goes, and a FIFO or link put there is never opened.
    ::unlink(temporary.c_str());
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw ProgramError("cannot create " + path + " (as " + temporary + "): " + std::strerror(errno));
}

OutputFile::~OutputFile()
{
    if (fd >= 0)
        ::close(fd);
    if (!committed)
        std::remove(temporary.c_str());
}

void put(OutputFile& out, const char* data, std::size_t size)
{
    if (out.used + size > out.buffer.size()) {
        write_all(out.fd, out.buffer.data(), out.used, out.path);
        out.used = 0;
    }
    if (size >= out.buffer.size()) {
        write_all(out.fd, data, size, out.path);
        return;
    }
    std::memcpy(out.buffer.data() + out.used, data, size);
    out.used += size;
}

void finish_output(OutputFile& out)
{
    write_all(out.fd, out.buffer.data(), out.used, out.path);
    out.used = 0;
    const int closed = ::close(out.fd);
    out.fd = -1;
    if (closed != 0)
        throw ProgramError("cannot write " + out.path + ": " + std::strerror(errno));
}

void commit_output(OutputFile& out)
{
    if (std::rename(out.temporary.c_str(), out.path.c_str()) != 0)
        throw ProgramError("cannot rename " + out.temporary + " to " + out.path + ": " + std::strerror(errno));
    out.committed = true;
}
