#pragma once

// How the fast interaction test lays out one gene pair: per-sample arrays
// carved from one caller-owned block of storage, each padded to a multiple
// of kPairBlock samples so that kernels run whole vectors of any level. The
// pad entries of x1 .. y1 are zero; those of the others are never read back.

#include <cstddef>

constexpr std::size_t kPairBlock = 8;

struct PairColumns {
    std::size_t n = 0;       // samples
    std::size_t padded = 0;  // n rounded up to a multiple of kPairBlock
    double *x1, *x2, *z3;    // the full design's columns, z3 = x1 x2
    double *y0, *y1;         // the class indicators
    double *e0, *e1;         // predictors, then their exponentials; e1 follows e0
    double *term, *termR;    // log-likelihood terms of the full and the reduced fit
    // The products x_j x_l of the designs' columns (1, x1, x2, z3), formed
    // once per pair: 8 per sample in m (1, x1, x2, z3, x1x1, x1x2, x2x2,
    // x1z3; the first four are the design row itself), 2 more in t (x2z3,
    // z3z3).
    double *m, *t;
};

// Doubles of storage the columns of n samples take.
std::size_t pair_storage(std::size_t n);

// The columns of n samples in `store` (pair_storage(n) doubles, 64-byte aligned).
PairColumns pair_columns(double* store, std::size_t n);
