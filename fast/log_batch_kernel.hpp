#pragma once

// log_batch (fast/fast_kernels.hpp), written once and compiled per level in
// fast/kernels_<level>.cpp: the C library's vector logarithm of the level's
// width (x86-64 vector ABI: __m512d for 8 lanes, __m256d for 4), std::log
// for the rest.

#include <cmath>
#include <cstddef>

// libmvec's x86-64 entry points; only the x86 levels are wider than 1.
#if defined(__x86_64__)
#include <immintrin.h>

extern "C" __m512d _ZGVeN8v_log(__m512d);
extern "C" __m256d _ZGVdN4v_log(__m256d);
#endif

template <class S>
void log_batch(const double* in, double* out, std::size_t count)
{
    std::size_t i = 0;
#if defined(__x86_64__)
    if constexpr (S::width == 8)
        for (; i + 8 <= count; i += 8)
            S::store(out + i, _ZGVeN8v_log(S::load(in + i)));
    if constexpr (S::width == 4)
        for (; i + 4 <= count; i += 4)
            S::store(out + i, _ZGVdN4v_log(S::load(in + i)));
#endif
    for (; i < count; ++i)
        out[i] = std::log(in[i]);
}
