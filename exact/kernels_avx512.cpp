// The exact kernels (exp_kernel.hpp, log_kernel.hpp) at the avx512 level.
// Standard and intrinsics headers first: see simd/targets.hpp.

#include "simd/prelude.hpp"

#include "exact/exact_kernels.hpp"
#include "simd/targets.hpp"

#if defined(__x86_64__)
MORV_TARGET_AVX512
#include "simd/avx512.hpp"
#include "exact/exp_kernel.hpp"
#include "exact/log_kernel.hpp"

const ExactKernels kExactKernelsAvx512 = {
    exp_kernel::exp_batch<Avx512>, exp_kernel::exp_batch_capped<Avx512>,
    log_kernel::log_exact_batch<Avx512>, log_kernel::log_exact_fallbacks<Avx512>};

MORV_TARGET_END
#else
const ExactKernels kExactKernelsAvx512 = {};
#endif
