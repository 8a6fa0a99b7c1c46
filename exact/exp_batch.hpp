#pragma once

#include <cstddef>

// Exponentials of `count` values, bit for bit those of std::exp for every
// input (NaN, infinities, overflow and subnormal results included), but
// vectorised where the CPU allows. Each lane is evaluated in double-double
// with a relative error far below 2^-60; where that proves which double is
// nearest to the true value by more than the C library's own error can move
// it, that double is the library's result too. The remaining lanes (values
// close to a rounding midpoint, results that are powers of two, |x| > 700,
// NaN) are handed to std::exp. y may be x (in place), but no other overlap.
void exp_batch(const double* x, double* y, std::size_t count);

// As exp_batch, of x capped: y = std::exp(x < cap ? x : cap), NaN taking
// the cap. The cap costs one vector instruction here, a pass of its own
// anywhere else.
void exp_batch_capped(const double* x, double* y, std::size_t count, double cap);

// Both run the best level's kernels (best_kernels().exact); the algorithm
// and its error bound are in exact/exp_kernel.hpp.
