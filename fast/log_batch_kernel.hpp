#pragma once

// log_batch (fast/fast_kernels.hpp), written once and compiled per level in
// fast/kernels_<level>.cpp: the C library's vector logarithm of the level's
// width (x86-64 vector ABI: __m512d for 8 lanes, __m256d for 4, and on the
// generic level the SSE entry, __m128d for 2, which x86-64 always has),
// std::log for the rest. All of them are within libmvec's 4 ulp.

#include <cmath>
#include <cstddef>

// libmvec's x86-64 entry points; only the x86 levels are wider than 1.
#if defined(__x86_64__)
#include <immintrin.h>

extern "C" __m512d _ZGVeN8v_log(__m512d);
extern "C" __m256d _ZGVdN4v_log(__m256d);
extern "C" __m128d _ZGVbN2v_log(__m128d);
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
    if constexpr (S::width == 1)
        for (; i + 2 <= count; i += 2)
            _mm_storeu_pd(out + i, _ZGVbN2v_log(_mm_loadu_pd(in + i)));
#endif
    for (; i < count; ++i)
        out[i] = std::log(in[i]);
}
