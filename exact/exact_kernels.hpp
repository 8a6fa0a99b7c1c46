#pragma once

#include "simd/kernels.hpp"

// The exact layer's kernels at each instruction-set level, defined in
// exact/kernels_<level>.cpp; reach them through kernels_for(isa).exact.
extern const ExactKernels kExactKernelsGeneric;
extern const ExactKernels kExactKernelsAvx2;
extern const ExactKernels kExactKernelsAvx512;
