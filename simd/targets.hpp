#pragma once

// A level's kernels are compiled in a region of its translation unit that
// these macros open and close (<layer>/kernels_<level>.cpp). Standard and
// intrinsics headers must be included before the region opens: an inline
// library function compiled inside it could otherwise be the copy the linker
// keeps, and run on a CPU without the level.
#define MORV_TARGET_AVX2 \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma,bmi,bmi2,popcnt\")")
#define MORV_TARGET_AVX512                                                              \
    _Pragma("GCC push_options")                                                         \
        _Pragma("GCC target(\"avx512f,avx512dq,avx512bw,avx512vl,avx2,fma,bmi,bmi2,popcnt\")")
#define MORV_TARGET_END _Pragma("GCC pop_options")
