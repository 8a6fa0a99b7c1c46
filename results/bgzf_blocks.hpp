#pragma once

#include <cstddef>
#include <vector>

#include "results/large_buffers.hpp"

// BGZF as morv's result files use it: every block holds whole lines, so that
// morv-merge can join shards by copying their blocks without decompressing.
// A file is bgzf_compress_lines(header) + bgzf_compress_lines(lines)... +
// bgzf_eof_block(): the header alone in the first block, the EOF block last.

// Appends to `out` the BGZF blocks of `text` (`size` bytes) at zlib `level`
// (-1: the default): as few blocks as fit htslib's BGZF_BLOCK_SIZE, each cut
// after a '\n' (a text longer than a block without any '\n' is cut at the
// block size). Returns the number of blocks, 0 for an empty text. Throws
// std::runtime_error when the compressor fails.
std::size_t bgzf_compress_lines(const char* text, std::size_t size, int level, TextBuffer& out);

// The standard 28-byte empty block that ends a BGZF file.
const std::vector<char>& bgzf_eof_block();
