#include "simd/kernels.hpp"

#include "exact/exact_kernels.hpp"
#include "fast/fast_kernels.hpp"

namespace {

// A level's table: the exact layer's kernels beside the fast engine's.
Kernels make(Isa isa, const ExactKernels& exact, const FastKernels& fast)
{
    return {isa, exact, fast};
}

}  // namespace

const Kernels& kernels_for(Isa isa)
{
    static const Kernels generic = make(Isa::generic, kExactKernelsGeneric, kFastKernelsGeneric);
    static const Kernels avx2 = make(Isa::avx2, kExactKernelsAvx2, kFastKernelsAvx2);
    static const Kernels avx512 = make(Isa::avx512, kExactKernelsAvx512, kFastKernelsAvx512);
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
