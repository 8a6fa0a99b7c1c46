#pragma once

#include <cstddef>

// Bit-exact replacements of the C library's exp and log. Each lane is
// evaluated in double-double and kept where its error bound proves it is the
// library's result too; the other lanes (near a rounding midpoint, or special
// inputs) are handed to std::exp / std::log. So y[i] is exactly
// std::exp(x[i]) / std::log(x[i]) for every input, NaN, infinities, zero,
// subnormals and overflow included. y may be x; no other overlap. The
// algorithms and their error bounds: exact/exp_kernel.hpp, log_kernel.hpp.
struct ExactKernels {
    void (*exp_batch)(const double* x, double* y, std::size_t count);
    // y = std::exp(x < cap ? x : cap), NaN taking the cap.
    void (*exp_batch_capped)(const double* x, double* y, std::size_t count, double cap);
    void (*log_exact_batch)(const double* x, double* y, std::size_t count);
    // How many of `count` lanes the vector evaluation leaves to std::log.
    std::size_t (*log_exact_fallbacks)(const double* x, std::size_t count);
};

// The table at each instruction-set level, defined in
// exact/kernels_<level>.cpp; reach them through kernels_for(isa).exact
// (fast/kernels.hpp).
extern const ExactKernels kExactKernelsGeneric;
extern const ExactKernels kExactKernelsAvx2;
extern const ExactKernels kExactKernelsAvx512;
