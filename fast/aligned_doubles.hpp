#pragma once

// Zero-filled arrays of doubles on 64-byte boundaries: a vector kernel's
// loads then never straddle two cache lines, which costs dearly at 64 bytes
// a load.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};
using AlignedDoubles = std::unique_ptr<double[], FreeDeleter>;

inline AlignedDoubles aligned_doubles(std::size_t count)
{
    std::size_t bytes = ((count * sizeof(double) + 63) / 64) * 64;
    if (bytes == 0)
        bytes = 64;
    void* p = std::aligned_alloc(64, bytes);
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return AlignedDoubles(static_cast<double*>(p));
}
