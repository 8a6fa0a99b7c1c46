#include "io/line_buffer.hpp"

#include <algorithm>
#include <cstring>

void allocate_line_buffer(LineBuffer& buffer, std::size_t size)
{
    buffer.data.reset(new char[size]);
    buffer.size = size;
    std::memset(buffer.data.get(), '\n', size);
    buffer.used = 0;
}

namespace {

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
        const std::size_t chunk = std::min(room, buffer.fgets_limit);
        if (std::fgets(data + total, static_cast<int>(chunk), file) == nullptr) {
            // What a failed call left behind is unknown: restore it all next time.
            buffer.used = buffer.size;
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
