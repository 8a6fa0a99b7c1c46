#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The merged file, written under a hidden temporary name beside it
// (".NAME.merging") and renamed only when complete: OUT is never seen half
// written, and a refusal part-way leaves nothing behind (the destructor
// removes the temporary unless commit_output() renamed it).
struct OutputFile {
    OutputFile(const std::string& path, std::size_t bufferBytes);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::string path, temporary;
    int fd = -1;
    std::vector<char> buffer;
    std::size_t used = 0;
    bool committed = false;
};

// Buffered; a large piece goes straight to the file. Throws ProgramError.
void put(OutputFile& out, const char* data, std::size_t size);

// Writes what is buffered and closes the temporary: after this, only the
// rename is left, so a failure here leaves OUT and its companions as they
// were.
void finish_output(OutputFile& out);

// Renames the finished temporary to the path.
void commit_output(OutputFile& out);
