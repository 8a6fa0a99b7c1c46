#pragma once

// Zero-filled arrays of doubles on 64-byte boundaries: a vector kernel's
// loads then never straddle two cache lines, which costs dearly at 64 bytes
// a load. Large arrays come from results/large_buffers (huge pages).

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "results/large_buffers.hpp"

struct AlignedDeleter {
    std::size_t largeBytes = 0;  // mapped by map_large, or 0: from aligned_alloc
    void operator()(double* p) const
    {
        if (largeBytes > 0)
            unmap_large(p, largeBytes);
        else
            std::free(p);
    }
};
using AlignedDoubles = std::unique_ptr<double[], AlignedDeleter>;

inline AlignedDoubles aligned_doubles(std::size_t count)
{
    if (count > static_cast<std::size_t>(-1) / sizeof(double) - 8)
        throw std::bad_alloc();
    std::size_t bytes = ((count * sizeof(double) + 63) / 64) * 64;
    if (bytes >= kLargeBytes)
        return AlignedDoubles(static_cast<double*>(map_large(bytes)), AlignedDeleter{bytes});
    if (bytes == 0)
        bytes = 64;
    void* p = std::aligned_alloc(64, bytes);
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return AlignedDoubles(static_cast<double*>(p));
}
