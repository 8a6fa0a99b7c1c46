#pragma once

// Memory for the scan's large buffers - a thread's class-ordered log table,
// a unit's text, the whole-sample terms - mapped on 2 MiB boundaries and
// advised onto transparent huge pages.
//
// The first touch of a 4 KiB page is a fault, and on a virtual machine a
// fault can cost 15 us: a two-thread screen took 2,490 of them, about 40 ms
// of CPU in a 0.5 s run, most for buffers each thread fills again and again.
// One huge page maps 512 small ones in one fault. Sizes are rounded up to
// 2 MiB, so only buffers of at least kLargeBytes come from here; smaller ones
// stay on the heap. Where huge pages are off, the advice is ignored and the
// memory behaves as any other.

#include <cstddef>
#include <new>
#include <vector>

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kLargeBytes = std::size_t(512) << 10;

// Zero-filled memory for `bytes` (at least kLargeBytes), 2 MiB-aligned;
// throws std::bad_alloc. Released by unmap_large with the same size.
void* map_large(std::size_t bytes);
void unmap_large(void* p, std::size_t bytes);

// Large requests from map_large, the rest from the heap.
template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t count)
    {
        if (count > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        const std::size_t bytes = count * sizeof(T);
        if (bytes >= kLargeBytes)
            return static_cast<T*>(map_large(bytes));
        return static_cast<T*>(::operator new(bytes));
    }
    void deallocate(T* p, std::size_t count) noexcept
    {
        const std::size_t bytes = count * sizeof(T);
        if (bytes >= kLargeBytes)
            unmap_large(p, bytes);
        else
            ::operator delete(p);
    }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept
    {
        return true;
    }
    template <class U>
    bool operator!=(const LargeAllocator<U>&) const noexcept
    {
        return false;
    }
};

// A unit's result text (plain or compressed).
using TextBuffer = std::vector<char, LargeAllocator<char>>;
