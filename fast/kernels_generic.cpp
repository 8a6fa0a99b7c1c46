// The fast engine's kernels at the generic level: the baseline of the CPU
// (SSE2 on x86-64, NEON on aarch64), no region of its own.
#include "simd/prelude.hpp"

#include "fast/fast_kernels.hpp"
#include "linalg/small_lu.hpp"
#include "simd/generic.hpp"
#include "fast/kernels_of.hpp"

const FastKernels kFastKernelsGeneric = fast_kernels_of<Generic>();
