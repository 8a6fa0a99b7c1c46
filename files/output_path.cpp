#include "files/output_path.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "files/file_error.hpp"

std::string why_not_replaceable(const std::string& path, const std::string& role)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "" : "cannot examine " + role + " " + path + ": " + std::strerror(errno);
    if (S_ISREG(st.st_mode))
        return "";
    const char* kind = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISLNK(st.st_mode)  ? "a symbolic link"
                       : S_ISCHR(st.st_mode)  ? "a character device"
                       : S_ISBLK(st.st_mode)  ? "a block device"
                       : S_ISFIFO(st.st_mode) ? "a FIFO"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "not a regular file";
    return role + " " + path + " exists and is " + kind + ", not a regular file: it is written under a "
           "temporary name and renamed, which would replace it; give another name";
}

void check_replaceable(const std::string& path, const std::string& role)
{
    const std::string why = why_not_replaceable(path, role);
    if (!why.empty())
        throw FileError(why);
}

void write_file_atomically(const std::string& path, const std::string& text, const std::string& role)
{
    check_replaceable(path, role);
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        throw FileError("cannot write " + role + " " + path + " (as " + temporary + "): " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int e = errno;
        std::remove(temporary.c_str());
        throw FileError("cannot write " + role + " " + path + ": " + std::strerror(e));
    }
}
