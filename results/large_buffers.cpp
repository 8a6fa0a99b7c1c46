#include "results/large_buffers.hpp"

#include <cstdint>
#include <sys/mman.h>

namespace {

std::size_t mapped_size(std::size_t bytes)
{
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

void* map_large(std::size_t bytes)
{
    if (bytes > static_cast<std::size_t>(-1) - 2 * kHugePage)
        throw std::bad_alloc();
    const std::size_t size = mapped_size(bytes);
    // One huge page more than needed, so that an aligned start lies within;
    // the ends beyond it are given back at once.
    void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t(kHugePage) - 1);
    const std::size_t head = aligned - start;
    if (head > 0)
        munmap(raw, head);
    munmap(reinterpret_cast<void*>(aligned + size), kHugePage - head);  // head < kHugePage
    // Only advice: without huge pages the mapping works the same.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void unmap_large(void* p, std::size_t bytes)
{
    munmap(p, mapped_size(bytes));
}
