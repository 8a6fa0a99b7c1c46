#include "io/line_buffer.hpp"

#include <algorithm>
#include <cstring>

void allocate_line_buffer(LineBuffer& buffer, std::size_t size)
{
    buffer.data.reset(new char[size]);
    buffer.size = size;
    buffer.filled = std::min(size, buffer.fill_step);
    std::memset(buffer.data.get(), '\n', buffer.filled);
    buffer.used = 0;
}

namespace {

// Room for a call of up to `wanted` bytes at `total`: the filled prefix grows
// (at least doubling) when it ends before that.
void fill_for(LineBuffer& buffer, std::size_t total, std::size_t wanted)
{
    if (buffer.filled - total >= wanted)
        return;
    const std::size_t grown = std::max({2 * buffer.filled, total + wanted, total + buffer.fill_step});
    const std::size_t to = std::min(buffer.size, grown);
    std::memset(buffer.data.get() + buffer.filled, '\n', to - buffer.filled);
    buffer.filled = to;
}

// Characters that one fgets call of `size` bytes put at `chunk`, given that
// every byte it did not write is '\n'. fgets stops after the first newline,
// so the first '\n' is either the read's own last character (then the
// terminator follows it) or the first untouched byte (then the terminator
// precedes it). No '\n' at all means the call filled its whole size.
std::size_t measure_chunk(const char* chunk, std::size_t size)
{
    const void* found = std::memchr(chunk, '\n', size);
    if (found == nullptr)
        return size - 1;
    const std::size_t at = static_cast<const char*>(found) - chunk;
    if (at + 1 < size && chunk[at + 1] == '\0')
        return at + 1;
    return at - 1;
}

}  // namespace

bool read_line(LineBuffer& buffer, std::FILE* file, std::size_t& length)
{
    char* data = buffer.data.get();
    std::memset(data, '\n', buffer.used);
    buffer.used = 0;

    std::size_t total = 0;
    for (;;) {
        const std::size_t room = buffer.size - total;
        fill_for(buffer, total, std::min({room, buffer.fgets_limit, buffer.fill_step}));
        const std::size_t chunk = std::min({room, buffer.fgets_limit, buffer.filled - total});
        if (std::fgets(data + total, static_cast<int>(chunk), file) == nullptr) {
            // What a failed call left of its chunk is unknown: restore it all
            // next time.
            buffer.used = total + chunk;
            if (total == 0 || std::ferror(file))
                return false;
            break;  // end of file right after a full chunk: as one fgets, a read
        }
        const std::size_t got = measure_chunk(data + total, chunk);
        total += got;
        buffer.used = total + 1;
        // One long fgets would go on only through a full chunk without newline.
        const bool chunk_full = got + 1 == chunk;
        if (!chunk_full || data[total - 1] == '\n' || total + 1 == buffer.size)
            break;
    }
    length = total;
    return true;
}
