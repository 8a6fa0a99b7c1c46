#pragma once

#include <cstring>

// Vectors of doubles as GCC vector extensions: every operation on them is
// the plain IEEE operation lane by lane, so a lane computes exactly what the
// scalar code would. Kernels written with them compile unchanged at every
// instruction-set level (fast/kernels_<level>.cpp).
typedef double v8d __attribute__((vector_size(64)));
typedef double v4d __attribute__((vector_size(32)));

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
