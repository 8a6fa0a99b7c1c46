#include "fast/kernels.hpp"

#include <cstdlib>

const Kernels& kernels_for(Isa isa)
{
    // A level's table: the exact layer's kernels beside the fast engine's.
    static const Kernels generic{Isa::generic, kExactKernelsGeneric, kFastKernelsGeneric};
    static const Kernels avx2{Isa::avx2, kExactKernelsAvx2, kFastKernelsAvx2};
    static const Kernels avx512{Isa::avx512, kExactKernelsAvx512, kFastKernelsAvx512};
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
    static const Kernels& best = kernels_for(chosen_isa(std::getenv("MORV_ISA")));
    return best;
}
