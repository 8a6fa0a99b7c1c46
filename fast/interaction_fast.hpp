#pragma once

// The interaction test and the LDA likelihood for the fast scan. Each returns
// exactly the doubles that interaction_test and llvalue_lda return for the
// same data, bit for bit: every sum keeps its order and every product its
// operands, and exp and log give the C library's values (exp_batch,
// log_exact_batch). The speed comes from fixed small matrices instead of
// uBLAS, no allocation once the workspace is warm, one LU factorisation per
// Newton step instead of two, the two fits sharing their first step, and
// vectorising only where samples (or Hessian entries) are independent.

#include <cstddef>

#include "fast/aligned_doubles.hpp"

// Caller-owned scratch storage, grown to the largest sample count seen and
// then reused: one per scan, not one per pair. It holds the pair last given
// to prepare_pair.
struct InteractionWorkspace {
    AlignedDoubles store;
    std::size_t capacity = 0;
    std::size_t n = 0;
    const unsigned char* cls = nullptr;  // the caller's, read until the next prepare_pair
    bool all_finite = true;              // every x1, x2 and x1*x2 is finite
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

// The LU factorisation with partial pivoting, determinant and solve of the
// Newton steps, on a size x size matrix (size at most 8) stored row by row,
// rows kMaxOrder doubles apart (the unused columns are scratch). They
// reproduce the matrix library's lu_factorize, math::determinant and
// lu_substitute step for step; exposed for the tests that hold them to it.
namespace interaction_fast_detail {

constexpr std::size_t kMaxOrder = 8;

// Factorises a in place into L (strictly below the diagonal, unit diagonal
// implied) and U; pivots[i] is the row exchanged with row i at step i. Returns
// 0, or one plus the first column whose pivot was exactly 0.0.
std::size_t lu_factor(double* a, std::size_t size, std::size_t* pivots);

// The product of U's diagonal, one sign change per interchange made.
double lu_determinant(const double* lu, std::size_t size, const std::size_t* pivots);

// Overwrites x (the right-hand side) with the solution.
void lu_solve(const double* lu, std::size_t size, const std::size_t* pivots, double* x);

// The score and Hessian sums of one Newton step, from the exponentials e0, e1
// of the predictors (arrays padded to a multiple of 8 samples), the class
// indicators y0, y1 and each sample's design products: m, 8 per sample
// (1, x1, x2, x1x2, x1x1, x1x2, x2x2, x1(x1x2)), and t, 2 per sample
// (x2(x1x2), (x1x2)^2). Writes 40 lanes (see the kernel). The widest path
// the CPU has is used; all are exposed so tests can hold them to each other.
enum class StepPath { portable, avx2, avx512 };

// The products m and t of samples 0..n-1 from the columns x1, x2 and
// z3 = x1 x2 (64-byte aligned), by 8-sample transposes or one by one.
bool products_best();
void products(bool vectorised, const double* x1, const double* x2, const double* z3,
              std::size_t n, double* m, double* t);
bool step_sums_available(StepPath path);
StepPath step_sums_best();
void step_sums(StepPath path, const double* e0, const double* e1, const double* y0,
               const double* y1, const double* m, const double* t, std::size_t n, bool full,
               double* out);

}  // namespace interaction_fast_detail
