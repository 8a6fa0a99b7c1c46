#include "results/bgzf_blocks.hpp"

#include <algorithm>
#include <cstring>
#include <htslib/bgzf.h>
#include <stdexcept>

std::size_t bgzf_compress_lines(const char* text, std::size_t size, int level, TextBuffer& out)
{
    std::size_t blocks = 0;
    for (std::size_t at = 0; at < size; ++blocks) {
        std::size_t length = std::min<std::size_t>(size - at, BGZF_BLOCK_SIZE);
        if (at + length < size) {
            // Cut after the last whole line that fits.
            const char* cut = static_cast<const char*>(memrchr(text + at, '\n', length));
            if (cut)
                length = static_cast<std::size_t>(cut - (text + at)) + 1;
        }
        const std::size_t used = out.size();
        out.resize(used + BGZF_MAX_BLOCK_SIZE);
        std::size_t written = BGZF_MAX_BLOCK_SIZE;
        if (bgzf_compress(out.data() + used, &written, text + at, length, level) != 0) {
            out.resize(used);
            throw std::runtime_error("BGZF compression failed");
        }
        out.resize(used + written);
        at += length;
    }
    return blocks;
}

const std::vector<char>& bgzf_eof_block()
{
    static const std::vector<char> block = [] {
        const unsigned char bytes[28] = {0x1f, 0x8b, 8, 4, 0, 0, 0, 0, 0, 0xff, 6, 0, 0x42, 0x43,
                                         2,    0,    0x1b, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        return std::vector<char>(bytes, bytes + sizeof bytes);
    }();
    return block;
}
