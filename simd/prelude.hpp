#pragma once

// Every standard and intrinsics header a kernel may use. A level's
// kernels_<level>.cpp includes this first, before its target region opens
// (see simd/targets.hpp), so that no library code is compiled inside it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

// Intrinsics exist only where the x86 levels do (simd/targets.hpp).
#if defined(__x86_64__)
#include <immintrin.h>
#endif
