#pragma once

#include <cstddef>

// Natural logarithms of `count` values, bit for bit those of std::log for
// every input (negative, zero, subnormal, infinite and NaN included), but
// vectorised where the CPU allows. Each lane is evaluated in double-double
// with a relative error below 2^-61; where that proves which double is
// nearest to the true value by more than the C library's own error can move
// it, that double is the library's result too. The remaining lanes (values
// close to a rounding midpoint, about 7% of probabilities, and inputs that
// are not positive normal numbers) are handed to std::log. y may be x (in
// place), but no other overlap.
void log_exact_batch(const double* x, double* y, std::size_t count);

// Runs the best level's kernel (best_kernels().exact); the algorithm and its
// error bound are in exact/log_kernel.hpp.
