// The fast engine's kernels at the avx512 level. Standard and intrinsics
// headers, and project headers with code of their own, come before the
// region (simd/targets.hpp).
#include "simd/prelude.hpp"

#include "fast/fast_kernels.hpp"
#include "linalg/small_lu.hpp"
#include "fast/mc_quick.hpp"
#include "fast/pair_layout.hpp"
#include "fast/pair_sums.hpp"
#include "fast/step_sums.hpp"
#include "simd/targets.hpp"
#include "simd/vector_types.hpp"

#if defined(__x86_64__)
MORV_TARGET_AVX512
#include "simd/avx512.hpp"
#include "fast/kernels_of.hpp"

const FastKernels kFastKernelsAvx512 = fast_kernels_of<Avx512>();
MORV_TARGET_END
#else
const FastKernels kFastKernelsAvx512 = {};
#endif
