// The exact kernels at the generic level. Without vector FMA the
// double-double evaluation of exp_kernel.hpp and log_kernel.hpp would take
// its FMAs from the C library, a call each; the library's exp and log are
// the definition of the results anyway, so this level simply calls them.

#include <cmath>
#include <cstddef>

#include "exact/exact_kernels.hpp"

namespace {

void library_exp(const double* x, double* y, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        y[i] = std::exp(x[i]);
}

void library_exp_capped(const double* x, double* y, std::size_t count, double cap)
{
    for (std::size_t i = 0; i < count; ++i)
        y[i] = std::exp(x[i] < cap ? x[i] : cap);  // NaN takes the cap
}

void library_log(const double* x, double* y, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        y[i] = std::log(x[i]);
}

std::size_t no_fallbacks(const double*, std::size_t)
{
    return 0;
}

}  // namespace

const ExactKernels kExactKernelsGeneric = {library_exp, library_exp_capped, library_log, no_fallbacks};
