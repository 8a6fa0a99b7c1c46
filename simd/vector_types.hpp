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
template <std::size_t Lanes>
struct VectorOf;
template <>
struct VectorOf<2> {
    typedef double type __attribute__((vector_size(16)));
};
template <>
struct VectorOf<4> {
    typedef double type __attribute__((vector_size(32)));
};
template <>
struct VectorOf<8> {
    typedef double type __attribute__((vector_size(64)));
};

// And of 64-bit integers, lane for lane.
template <std::size_t Lanes>
struct IntVectorOf;
template <>
struct IntVectorOf<2> {
    typedef unsigned long long type __attribute__((vector_size(16)));
};
template <>
struct IntVectorOf<4> {
    typedef unsigned long long type __attribute__((vector_size(32)));
};
template <>
struct IntVectorOf<8> {
    typedef unsigned long long type __attribute__((vector_size(64)));
};

template <class S>
constexpr std::size_t kLanes = S::width < 2 ? 2 : static_cast<std::size_t>(S::width);
template <class S>
using Vec = typename VectorOf<kLanes<S>>::type;
template <class S>
using IntVec = typename IntVectorOf<kLanes<S>>::type;

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
