#include "fast/log_batch.hpp"

#include <cmath>
#include <immintrin.h>

// The C library's vector variants of log (x86-64 vector ABI).
extern "C" __attribute__((target("avx512f"))) __m512d _ZGVeN8v_log(__m512d);
extern "C" __attribute__((target("avx2"))) __m256d _ZGVdN4v_log(__m256d);

namespace {

void log_scalar(const double* in, double* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = std::log(in[i]);
}

__attribute__((target("avx512f"))) void log_avx512(const double* in, double* out, std::size_t count)
{
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8)
        _mm512_storeu_pd(out + i, _ZGVeN8v_log(_mm512_loadu_pd(in + i)));
    log_scalar(in + i, out + i, count - i);
}

__attribute__((target("avx2"))) void log_avx2(const double* in, double* out, std::size_t count)
{
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4)
        _mm256_storeu_pd(out + i, _ZGVdN4v_log(_mm256_loadu_pd(in + i)));
    log_scalar(in + i, out + i, count - i);
}

using LogBatch = void (*)(const double*, double*, std::size_t);

LogBatch choose()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return log_avx512;
    if (__builtin_cpu_supports("avx2"))
        return log_avx2;
    return log_scalar;
}

}  // namespace

void log_batch(const double* in, double* out, std::size_t count)
{
    static const LogBatch impl = choose();
    impl(in, out, count);
}
