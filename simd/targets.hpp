#pragma once

// A level's kernels are compiled in a region of its translation unit that
// these macros open and close (<layer>/kernels_<level>.cpp). Standard and
// intrinsics headers must be included before the region opens: an inline
// library function compiled inside it could otherwise be the copy the linker
// keeps, and run on a CPU without the level. GCC and clang (the fuzz build)
// spell the region differently.
#if defined(__clang__)
#define MORV_TARGET_REGION(features) \
    _Pragma(MORV_TARGET_STRINGIFY(clang attribute push(__attribute__((target(features))), apply_to = function)))
#define MORV_TARGET_END _Pragma("clang attribute pop")
#else
#define MORV_TARGET_REGION(features) \
    _Pragma("GCC push_options") _Pragma(MORV_TARGET_STRINGIFY(GCC target(features)))
#define MORV_TARGET_END _Pragma("GCC pop_options")
#endif
#define MORV_TARGET_STRINGIFY(x) #x

// The x86 levels exist on x86-64 only. Elsewhere their kernels_<level>.cpp
// define an empty table instead, which nothing reaches: isa_supported says no.
#if defined(__x86_64__)
#define MORV_TARGET_AVX2 MORV_TARGET_REGION("avx2,fma,bmi,bmi2,popcnt")
#define MORV_TARGET_AVX512 \
    MORV_TARGET_REGION("avx512f,avx512dq,avx512bw,avx512vl,avx2,fma,bmi,bmi2,popcnt")
#endif
