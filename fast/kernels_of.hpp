#pragma once

// The fast engine's table at the level of the primitives S: include inside
// the level's region (fast/kernels_<level>.cpp).

#include "fast/log_batch_kernel.hpp"
#include "fast/mc_row_kernel.hpp"
#include "fast/newton_lu_kernel.hpp"
#include "fast/pair_layout_kernel.hpp"
#include "fast/pair_sums_kernel.hpp"
#include "fast/step_sums_kernel.hpp"
#include "fast/fast_kernels.hpp"

template <class S>
constexpr FastKernels fast_kernels_of()
{
    return {cross_sums_block<S>,
            column_sums<S>,
            class_determinants<S>,
            whole_determinants<S>,
            statistic_estimates<S>,
            log_batch<S>,
            lay_out<S>,
            design_products<S>,
            predictors<S>,
            log_arguments<S>,
            step_sums<S, ReducedDesignFor<S::width>>,
            &kSumLanesOf<ReducedDesignFor<S::width>>,
            step_sums<S, FullDesignSums>,
            lu_factor<S>};
}
