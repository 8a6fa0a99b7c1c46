#include "simd/kernels.hpp"

#include "exact/exp_batch.hpp"
#include "exact/log_exact.hpp"
#include "fast/fast_kernels.hpp"

namespace {

template <exp_batch_detail::Path P>
void exp_path(const double* x, double* y, std::size_t count)
{
    exp_batch_detail::exp_batch_path(P, x, y, count);
}
template <exp_batch_detail::Path P>
void exp_capped_path(const double* x, double* y, std::size_t count, double cap)
{
    exp_batch_detail::exp_batch_capped_path(P, x, y, count, cap);
}
template <log_exact_detail::Path P>
void log_path(const double* x, double* y, std::size_t count)
{
    log_exact_detail::log_exact_path(P, x, y, count);
}

template <exp_batch_detail::Path E, log_exact_detail::Path L>
Kernels make(Isa isa, const FastKernels& fast)
{
    return {isa,
            {exp_path<E>, exp_capped_path<E>, log_path<L>, log_exact_detail::log_exact_fallbacks},
            fast};
}

}  // namespace

const Kernels& kernels_for(Isa isa)
{
    using EP = exp_batch_detail::Path;
    using LP = log_exact_detail::Path;
    static const Kernels generic = make<EP::scalar, LP::scalar>(Isa::generic, kFastKernelsGeneric);
    static const Kernels avx2 = make<EP::avx2, LP::avx2>(Isa::avx2, kFastKernelsAvx2);
    static const Kernels avx512 = make<EP::avx512, LP::avx512>(Isa::avx512, kFastKernelsAvx512);
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
