#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <zlib.h>

// A file read as a stream of bytes, plain or gzip-compressed (BGZF included:
// it is gzip), that never passes damage off as data. gzread accepts a stream
// cut short at its end and ignores bytes after the last member; here both are
// errors, as are a wrong CRC or length and bytes that are not gzip data, so
// a truncated file can never read as a shorter complete one. Several members
// one after another (BGZF, `cat a.gz b.gz`) are one stream. Throws FileError
// naming the file.
class CheckedInput {
public:
    explicit CheckedInput(const std::string& path);
    ~CheckedInput();
    CheckedInput(const CheckedInput&) = delete;
    CheckedInput& operator=(const CheckedInput&) = delete;

    // Up to `size` bytes of the text; 0 only at its end, which is checked.
    std::size_t read(char* data, std::size_t size);
    bool compressed() const { return gzip_; }
    const std::string& path() const { return path_; }

private:
    bool fill();  // more raw bytes; false at the end of the file
    [[noreturn]] void damaged(const std::string& what) const;
    std::size_t inflate_some(char* data, std::size_t size);

    std::string path_;
    int fd_ = -1;
    std::vector<unsigned char> raw_;
    std::size_t rawAt_ = 0, rawEnd_ = 0;
    bool fileEnded_ = false;
    bool gzip_ = false, inMember_ = false, zInit_ = false;
    z_stream z_{};
    unsigned long long memberStart_ = 0, consumed_ = 0;  // offsets in the file, for messages
};

// The whole text of a plain or gzip-compressed file. Throws FileError.
std::string read_checked_text(const std::string& path);
