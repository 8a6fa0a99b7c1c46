#pragma once

#include <climits>
#include <cstddef>
#include <cstdio>
#include <memory>

// A buffer for fgets reads that also tells how many characters a read took.
// Lines may hold NUL bytes, so strlen cannot measure them; instead every byte
// the last read did not reach is kept as '\n', which lets the end of a read
// be told apart from its data (see read_line).
//
// Only a prefix is filled with '\n' to begin with, and it grows as long
// lines need it: the genotype scan's buffer has room for 4 MB lines, and
// filling all of it would touch a thousand pages for lines of a few KB.
struct LineBuffer {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;    // bytes, room for the terminator included
    std::size_t used = 0;    // bytes the last read may have written
    std::size_t filled = 0;  // bytes [0, filled) are '\n' between reads
    // fgets takes an int size; longer reads are made of several calls.
    std::size_t fgets_limit = INT_MAX;
    // The first fill, and the least it grows by.
    std::size_t fill_step = 64 * 1024;
};

// Makes `buffer` hold `size` bytes (at least 2). Throws std::bad_alloc as
// new does, so that each caller can report the failure in its own words.
void allocate_line_buffer(LineBuffer& buffer, std::size_t size);

// One read with the semantics of fgets(buffer.data, buffer.size, file): at
// most size-1 characters, stopping after a newline, then a terminator.
// Returns false where fgets returns NULL (end of file before any character,
// or a read error); otherwise stores the number of characters read in
// `length`, the newline included when the read reached one.
bool read_line(LineBuffer& buffer, std::FILE* file, std::size_t& length);

// Whether a read of `length` characters ended with its line's newline.
inline bool ends_with_newline(const LineBuffer& buffer, std::size_t length)
{
    return length > 0 && buffer.data[length - 1] == '\n';
}
