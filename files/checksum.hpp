#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A fast content checksum (XXH3, 64 bits, as 16 hex digits) to tie a result
// to the very bytes it was made from: a few GB/s, so hashing an input costs
// little beside reading it. Not a defence against forgery, only against
// mix-ups and damage.
class Checksum {
public:
    Checksum();
    ~Checksum();
    Checksum(const Checksum&) = delete;
    Checksum& operator=(const Checksum&) = delete;
    void add(const void* data, std::size_t size);
    std::string hex() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// What a manifest records of one file.
struct FileFacts {
    std::string path;
    bool regular = false;  // false: a FIFO or device, neither sized nor hashed
    std::uint64_t size = 0;
    std::string checksum;  // Checksum::hex() of the bytes as stored (compressed or not)
};

// Reads a regular file through once. Throws FileError when it cannot.
FileFacts file_facts(const std::string& path);
