#pragma once

#include <cstdio>
#include <memory>

// A C stream that is closed however the scope ends, so that a fatal error
// raised while a file is open does not leave the stream behind.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

inline FileHandle open_file(const char* path, const char* mode)
{
    return FileHandle(std::fopen(path, mode));
}
