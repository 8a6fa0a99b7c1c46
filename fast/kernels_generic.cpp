// The fast engine's kernels at the generic level: baseline x86-64, no
// region of its own.
#include "simd/prelude.hpp"

#include "fast/fast_kernels.hpp"
#include "simd/generic.hpp"
#include "fast/kernels_of.hpp"

const FastKernels kFastKernelsGeneric = fast_kernels_of<Generic>();
