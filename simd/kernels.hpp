#pragma once

#include <cstddef>

#include "simd/isa.hpp"

// The one dispatch mechanism: every vector kernel of the exact and fast
// layers is reached through the table of one instruction-set level. Each
// kernel's algorithm is written once, as a template over a level's
// primitives (simd/<level>.hpp), and instantiated per level in
// <layer>/kernels_<level>.cpp. The engine takes the best table once per run;
// tests take each supported table in turn and hold it to the generic one.

// Bit-exact replacements of the C library's exp and log (exact/). Each lane
// is evaluated in double-double and kept where its error bound proves it is
// the library's result too; the other lanes (near a rounding midpoint, or
// special inputs) are handed to std::exp / std::log. So y[i] is exactly
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

struct PairColumns;

// The fast engine's kernels (fast/kernels_of.hpp names the header that
// defines each).
struct FastKernels {
    // The MC test's sums and estimates.
    void (*cross_sums_block)(const double* P, std::size_t samples, std::size_t s0, std::size_t s1,
                             std::size_t row0, std::size_t p0, std::size_t p1, double* out,
                             std::size_t outStride);
    void (*column_sums)(const double* P, std::size_t samples, std::size_t s0, std::size_t s1,
                        std::size_t panels, double* sums, double* squares);
    void (*class_determinants)(const double* cross, const double* sums, const double* vars,
                               double mean1, double var1, double count, std::size_t len,
                               double* det);
    void (*whole_determinants)(const double* cross, const double* means, const double* vars,
                               double mean1, double var1, double N, std::size_t len, double* det);
    void (*statistic_estimates)(const double* lg3, const double* lg0, const double* lg1,
                                const double* lg2, const double counts[3], std::size_t len,
                                double* T, double* errT, double* tailSum);
    // Approximate logarithms for estimates with error bounds.
    void (*log_batch)(const double* in, double* out, std::size_t count);
    // The interaction test's pair layout and Newton steps.
    bool (*lay_out)(const double* x1, const double* x2, const unsigned char* cls,
                    const PairColumns& c);
    void (*design_products)(const PairColumns& c);
    void (*predictors)(const PairColumns& c, int p, const double* beta);
    void (*log_arguments)(const PairColumns& c, double* arg);
    void (*step_sums_reduced)(const PairColumns& c, double* out);
    void (*step_sums_full)(const PairColumns& c, double* out);
};

struct Kernels {
    Isa isa;
    ExactKernels exact;
    FastKernels fast;
};

// The table of a supported level (isa_supported(isa) must hold).
const Kernels& kernels_for(Isa isa);

// The table of the level MORV_ISA chooses (chosen_isa), read once; throws
// as chosen_isa does.
const Kernels& best_kernels();
