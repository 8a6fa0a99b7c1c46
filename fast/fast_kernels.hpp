#pragma once

// The fast engine's kernel tables, one per instruction-set level, defined
// in fast/kernels_<level>.cpp from the algorithms of fast/kernels_of.hpp.
// Code reaches them through kernels_for / best_kernels (simd/kernels.hpp).

#include "simd/kernels.hpp"

extern const FastKernels kFastKernelsGeneric;
extern const FastKernels kFastKernelsAvx2;
extern const FastKernels kFastKernelsAvx512;
