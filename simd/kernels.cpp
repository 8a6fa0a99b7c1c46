#include "simd/kernels.hpp"

#include "exact/exact_kernels.hpp"
#include "fast/log_batch.hpp"
#include "fast/mc_row_estimate.hpp"
#include "fast/pair_sums.hpp"

namespace {

Kernels make(Isa isa, const ExactKernels& exact)
{
    return {isa,
            exact,
            {cross_sums_block, column_sums, class_determinants, whole_determinants,
             statistic_estimates, log_batch}};
}

}  // namespace

const Kernels& kernels_for(Isa isa)
{
    static const Kernels generic = make(Isa::generic, kExactKernelsGeneric);
    static const Kernels avx2 = make(Isa::avx2, kExactKernelsAvx2);
    static const Kernels avx512 = make(Isa::avx512, kExactKernelsAvx512);
    switch (isa) {
    case Isa::avx512:
        return avx512;
    case Isa::avx2:
        return avx2;
    case Isa::generic:
        break;
    }
    return generic;
}

const Kernels& best_kernels()
{
    static const Kernels& best = kernels_for(best_isa());
    return best;
}
