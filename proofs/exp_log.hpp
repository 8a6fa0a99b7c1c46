#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "fast/kernels.hpp"

// Sweeps that hold one level's exact exp and log to the C library, bit for
// bit, on inputs concentrated where the evaluation can go wrong: special
// values, table-cell boundaries, near rounding midpoints, the interaction
// test's predictors, and random ones. Each input goes through every entry
// point (exp_batch and exp_batch_capped; log_exact_batch), out of place and
// in place, in pieces of assorted lengths: partial vectors, partial blocks,
// unaligned starts. morv-proofs runs them large; the unit tests run them
// small.

struct ProofResult {
    std::uint64_t checked = 0, mismatches = 0;  // lane results compared, and wrong
    double first_bad_input = 0;
};

ProofResult prove_exp(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed);
ProofResult prove_log(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed);

// One batch function, as the sweeps call it.
using BatchFunction = std::function<void(const double* x, double* y, std::size_t count)>;

// Adds to `result`: x through `batch` out of place and in place, in pieces
// as the sweeps do, each lane compared with library(x) bit for bit.
void check_batch(const BatchFunction& batch, const std::vector<double>& x,
                 double (*library)(double), ProofResult& result);
