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

// The individual instruction-set paths, for tests. Each must only be called
// when the CPU supports it (log_exact_path_available).
namespace log_exact_detail {

enum class Path { scalar, avx2, avx512 };

bool log_exact_path_available(Path path);
void log_exact_path(Path path, const double* x, double* y, std::size_t count);

// How many of the `count` lanes the vector evaluation leaves to std::log,
// on the best path the CPU has: a measure for benchmarks and tests.
std::size_t log_exact_fallbacks(const double* x, std::size_t count);

}  // namespace log_exact_detail
