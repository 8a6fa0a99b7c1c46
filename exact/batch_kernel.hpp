#pragma once

// The loop the exact kernels share, as templates over a level's primitives S
// (simd/<level>.hpp): a vector evaluation proves most lanes right, the C
// library computes the others. Include inside the level's target region,
// after <cstddef>, <cstdint> and <cstring>. Every function is a template on
// S, so that the code of one level never stands in for another's at link
// time.

namespace batch_kernel {

constexpr std::size_t kBlock = 512;  // lanes per pass

// The library's value for each rejected lane of y, whose input the vector
// loop left in its place. accepted[v] holds vector v's mask, its unused high
// bits set, and is padded with 0xFF to a multiple of 8: the masks are read 8
// vectors at a time (x86 is little-endian: lane i of vector v + u is bit
// 8 u + i of the word at v), one unpredictable branch per word instead of
// one per vector. Out of line: the call clobbers every vector register, which
// the vector loop should not have to save.
template <class S, class Library>
__attribute__((noinline)) void redo_rejected(double* y, const std::uint8_t* accepted,
                                             std::size_t vectors, Library library)
{
    for (std::size_t v = 0; v < vectors; v += 8) {
        std::uint64_t bad;
        std::memcpy(&bad, accepted + v, sizeof bad);
        for (bad = ~bad; bad != 0; bad &= bad - 1) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctzll(bad));
            double& lane = y[(v + bit / 8) * S::width + bit % 8];
            lane = library(lane);
        }
    }
}

// y[i] = library(x[i]) for i < count. lanes(v, ok) evaluates one vector: it
// sets ok on the lanes it proved, returns its result there and in the other
// lanes the input to hand to `library` (which may differ from x: a capped
// input). y may be x.
template <class S, class Lanes, class Library>
void evaluate(const double* x, double* y, std::size_t count, const Lanes& lanes, Library library)
{
    constexpr std::size_t W = S::width;
    constexpr unsigned kUnused = 0xFFu << W & 0xFFu;
    for (std::size_t start = 0; start < count; start += kBlock) {
        const std::size_t n = count - start < kBlock ? count - start : kBlock;
        const double* xb = x + start;
        double* yb = y + start;
        std::uint8_t accepted[kBlock / W + 8];
        std::size_t v = 0;
        typename S::Mask ok;
        for (; W * v + W <= n; ++v) {
            S::store(yb + W * v, lanes(S::load(xb + W * v), ok));
            accepted[v] = static_cast<std::uint8_t>(S::mask_bits(ok) | kUnused);
        }
        if (W * v < n) {
            const std::size_t k = n - W * v;
            S::store_partial(yb + W * v, lanes(S::load_partial(xb + W * v, k), ok), k);
            accepted[v++] = static_cast<std::uint8_t>(S::mask_bits(ok) | (0xFFu << k & 0xFFu));
        }
        for (std::size_t pad = v; pad % 8 != 0; ++pad)
            accepted[pad] = 0xFF;
        redo_rejected<S>(yb, accepted, v, library);
    }
}

// How many of the `count` lanes `lanes` (as for evaluate) leaves to the library.
template <class S, class Lanes>
std::size_t count_rejected(const double* x, std::size_t count, const Lanes& lanes)
{
    constexpr std::size_t W = S::width;
    std::size_t rejected = 0, i = 0;
    typename S::Mask ok;
    for (; i + W <= count; i += W) {
        lanes(S::load(x + i), ok);
        rejected += W - static_cast<std::size_t>(__builtin_popcount(S::mask_bits(ok)));
    }
    if (i < count) {
        const std::size_t k = count - i;
        lanes(S::load_partial(x + i, k), ok);
        const unsigned live = S::mask_bits(ok) & ((1u << k) - 1);
        rejected += k - static_cast<std::size_t>(__builtin_popcount(live));
    }
    return rejected;
}

}  // namespace batch_kernel
