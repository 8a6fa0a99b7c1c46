// The exact kernels (exp_kernel.hpp, log_kernel.hpp) at the generic level.
// Baseline x86-64: no target region.

#include "simd/prelude.hpp"

#include "exact/exact_kernels.hpp"
#include "simd/generic.hpp"

#include "exact/exp_kernel.hpp"
#include "exact/log_kernel.hpp"

const ExactKernels kExactKernelsGeneric = {
    exp_kernel::exp_batch<Generic>, exp_kernel::exp_batch_capped<Generic>,
    log_kernel::log_exact_batch<Generic>, log_kernel::log_exact_fallbacks<Generic>};
