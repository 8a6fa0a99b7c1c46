// The fast engine's kernels at the avx2 level. Standard and intrinsics
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
MORV_TARGET_AVX2
#include "simd/avx2.hpp"
#include "fast/kernels_of.hpp"

const FastKernels kFastKernelsAvx2 = fast_kernels_of<Avx2>();
MORV_TARGET_END
#else
const FastKernels kFastKernelsAvx2 = {};
#endif
