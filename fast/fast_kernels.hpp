#pragma once

#include <cstddef>

struct PairColumns;
struct SumLanes;

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
    // Natural logarithms, vectorised where the level allows (the C library's
    // vector logarithm, within 4 ulp; elsewhere std::log). Approximate by
    // design: for estimates whose error bounds allow for it, never where a
    // value must equal std::log's bit for bit.
    void (*log_batch)(const double* in, double* out, std::size_t count);
    // The interaction test's pair layout and Newton steps.
    bool (*lay_out)(const double* x1, const double* x2, const unsigned char* cls,
                    const PairColumns& c);
    void (*design_products)(const PairColumns& c);
    void (*predictors)(const PairColumns& c, int p, const double* beta);
    void (*log_arguments)(const PairColumns& c, double* arg);
    void (*step_sums_reduced)(const PairColumns& c, double* out);  // at reduced_lanes
    const SumLanes* reduced_lanes;
    void (*step_sums_full)(const PairColumns& c, double* out);
    // small_lu_factor of a Newton step's Hessian, its rows as vectors.
    std::size_t (*lu_factor)(double* a, std::size_t size, std::size_t* pivots);
};

// The table at each instruction-set level, defined in
// fast/kernels_<level>.cpp from the algorithms of fast/kernels_of.hpp;
// reach them through kernels_for(isa).fast (fast/kernels.hpp).
extern const FastKernels kFastKernelsGeneric;
extern const FastKernels kFastKernelsAvx2;
extern const FastKernels kFastKernelsAvx512;
