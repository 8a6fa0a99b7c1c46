#pragma once

// The interaction test and the LDA likelihood for the fast scan. Each returns
// exactly the doubles that interaction_test and llvalue_lda return for the
// same data, bit for bit: every sum keeps its order and every product its
// operands, and exp and log give the C library's values (the exact kernels).
// The speed comes from fixed small matrices instead of uBLAS, no allocation
// once the workspace is warm, one LU factorisation per Newton step instead
// of two, the two fits sharing their first step, and vectorising only where
// samples (or Hessian entries) are independent.

#include <cstddef>

#include "fast/aligned_doubles.hpp"
#include "fast/kernels.hpp"

// Caller-owned scratch storage, grown to the largest sample count seen and
// then reused: one per scan, not one per pair. It holds the pair last given
// to prepare_pair, and the kernels (one instruction-set level) the
// functions below run on.
struct InteractionWorkspace {
    explicit InteractionWorkspace(const Kernels& k) : kernels(&k) {}

    const Kernels* kernels;
    AlignedDoubles store;
    std::size_t capacity = 0;
    std::size_t n = 0;
    bool all_finite = true;  // every x1, x2 and x1*x2 is finite
};

// Lays out one gene pair for the two functions below. The class indicators
// come as one class per sample: 0 for the indicator row (1,0), 1 for (0,1),
// 2 (or anything else) for (0,0). x1 and x2 are the two log-expression
// columns in sample order.
void prepare_pair(const double* x1, const double* x2, const unsigned char* cls, std::size_t n,
                  InteractionWorkspace& ws);

// The logit model's log-likelihood of the prepared pair for the design
// (1, x1, x2) at beta (6 entries): what loglikelihood returns for the LDA's
// coefficients.
double lda_log_likelihood_fast(InteractionWorkspace& ws, const double* beta);

// The interaction test of the prepared pair: writes the two log-likelihoods
// and the statistic as interaction_test does and returns its p-value.
double interaction_test_fast(InteractionWorkspace& ws, double& llR, double& llF, double& stat);

// prepare_pair, then the test.
double interaction_test_fast(const double* x1, const double* x2, const unsigned char* cls,
                             std::size_t n, InteractionWorkspace& ws, double& llR, double& llF,
                             double& stat);
