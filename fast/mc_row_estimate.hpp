#pragma once

#include <cstddef>

// The per-pair arithmetic of the MC statistic for one gene against a run of
// partners, vectorised across partners. Each lane performs exactly the
// operations of the scalar formulas (class_covariance_det, covariance_det,
// mc_statistic), so every determinant equals the exact path's bit for bit;
// only the logarithms that follow are estimates. Arrays may be read and
// written up to `len` rounded up to a multiple of 8: callers pad them.

// det[j] for class size `count`: cov = cross[j]/count - (mean1*sums[j])/count,
// det = var1*vars[j] - cov*cov; exactly 0 for a class of one or two samples.
void class_determinants(const double* cross, const double* sums, const double* vars, double mean1,
                        double var1, double count, std::size_t len, double* det);

// det[j] of the whole sample: cov = cross[j]/N - mean1*means[j],
// det = var1*vars[j] - cov*cov.
void whole_determinants(const double* cross, const double* means, const double* vars, double mean1,
                        double var1, double N, std::size_t len, double* det);

// From the logarithm terms (lg3 already multiplied by N): the statistic
// estimate T = ((lg3 - lg0*c0) - lg1*c1) - lg2*c2, its error bound, and the
// tail sum S(T/2) whose logarithm the quick decision needs.
void statistic_estimates(const double* lg3, const double* lg0, const double* lg1, const double* lg2,
                         const double counts[3], std::size_t len, double* T, double* errT,
                         double* tailSum);
