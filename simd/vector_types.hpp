#pragma once

#include <cstddef>
#include <cstring>

// Vectors of doubles as GCC vector extensions: every operation on them is
// the plain IEEE operation lane by lane, so a lane computes exactly what the
// scalar code would. A kernel written with Vec<S> takes the width of its
// level's registers (fast/kernels_<level>.cpp): 8 doubles for avx512, 4 for
// avx2, and 2 for the generic level, the SSE2 (or NEON) width every 64-bit
// CPU has. A vector wider than the registers would be split into halves the
// compiler keeps apart, spilling accumulators through the stack.
template <class T, std::size_t Lanes>
struct VectorOf {
    typedef T type __attribute__((vector_size(Lanes * sizeof(T))));
};

template <class S>
constexpr std::size_t kLanes = S::width < 2 ? 2 : static_cast<std::size_t>(S::width);
template <class S>
using Vec = typename VectorOf<double, kLanes<S>>::type;
template <class S>
using IntVec = typename VectorOf<unsigned long long, kLanes<S>>::type;  // lane for lane

// Loads and stores through memcpy: data need not be vector-aligned, and a
// vector passed by value would change calling convention between levels.
// Always inlined, or a level's kernel could call another level's copy.
template <class V>
__attribute__((always_inline)) inline void load(V& v, const double* p)
{
    std::memcpy(&v, p, sizeof v);
}

template <class V>
__attribute__((always_inline)) inline void store(double* p, const V& v)
{
    std::memcpy(p, &v, sizeof v);
}
