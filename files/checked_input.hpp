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
// one after another (BGZF, `cat a.gz b.gz`) are one stream. A BGZF file must
// end with its empty end-of-file block: cut between two blocks, it would
// still be a whole gzip stream. Throws FileError naming the file.
class CheckedInput {
public:
    // `bgzfEndRequired` false: a BGZF file without its end block is read as
    // far as it goes (a result the caller knows to be partial).
    explicit CheckedInput(const std::string& path, bool bgzfEndRequired = true);
    ~CheckedInput();
    CheckedInput(const CheckedInput&) = delete;
    CheckedInput& operator=(const CheckedInput&) = delete;

    // Up to `size` bytes of the text; 0 only at its end, which is checked.
    std::size_t read(char* data, std::size_t size);

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
    bool bgzfEndRequired_ = true;
    bool bgzf_ = false, memberIsBgzf_ = false, lastWasEndBlock_ = false;
    z_stream z_{};
    unsigned long long memberStart_ = 0, consumed_ = 0;  // offsets in the file, for messages
};

// The whole text of a plain or gzip-compressed file. Throws FileError.
std::string read_checked_text(const std::string& path);

// The message of a BGZF file without its end-of-file block.
std::string missing_end_block(const std::string& path);
