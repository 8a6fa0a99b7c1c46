#pragma once

// The per-pair arithmetic of the MC statistic for one gene against a run of
// partners, vectorised across partners; written once and compiled per level
// in fast/kernels_<level>.cpp. Each lane performs exactly the operations of
// the scalar formulas (class_covariance_det, covariance_det, mc_statistic),
// so every determinant equals the exact path's bit for bit; only the
// logarithms that follow are estimates. Arrays may be read and written up
// to `len` rounded up to a multiple of 8 (the widest level's lanes): callers
// pad them.

#include <cstddef>
#include <cstring>

#include "fast/mc_quick.hpp"
#include "simd/vector_types.hpp"

template <class V>
__attribute__((always_inline)) inline void absolute(V& v)
{
    v = v < 0 ? -v : v;
}

// det[j] for class size `count`: cov = cross[j]/count - (mean1*sums[j])/count,
// det = var1*vars[j] - cov*cov; exactly 0 for a class of one or two samples.
template <class S>
void class_determinants(const double* cross, const double* sums, const double* vars, double mean1,
                        double var1, double count, std::size_t len, double* det)
{
    if (count == 1.0 || count == 2.0) {
        std::memset(det, 0, ((len + 7) / 8) * 8 * sizeof(double));
        return;
    }
    for (std::size_t j = 0; j < len; j += kLanes<S>) {
        Vec<S> c, s, v;
        load(c, cross + j);
        load(s, sums + j);
        load(v, vars + j);
        Vec<S> cov = c / count;
        cov = cov - (mean1 * s) / count;
        store(det + j, (var1 * v) - cov * cov);
    }
}

// det[j] of the whole sample: cov = cross[j]/N - mean1*means[j],
// det = var1*vars[j] - cov*cov.
template <class S>
void whole_determinants(const double* cross, const double* means, const double* vars, double mean1,
                        double var1, double N, std::size_t len, double* det)
{
    for (std::size_t j = 0; j < len; j += kLanes<S>) {
        Vec<S> c, m, v;
        load(c, cross + j);
        load(m, means + j);
        load(v, vars + j);
        const Vec<S> cov = c / N - mean1 * m;
        store(det + j, (var1 * v) - cov * cov);
    }
}

// From the logarithm terms (lg3 already multiplied by N): the statistic
// estimate T = ((lg3 - lg0*c0) - lg1*c1) - lg2*c2, its error bound, and the
// tail sum S(T/2) whose logarithm the quick decision needs.
template <class S>
void statistic_estimates(const double* lg3, const double* lg0, const double* lg1, const double* lg2,
                         const double counts[3], std::size_t len, double* T, double* errT,
                         double* tailSum)
{
    const double c0 = counts[0], c1 = counts[1], c2 = counts[2];
    for (std::size_t j = 0; j < len; j += kLanes<S>) {
        Vec<S> t3, l0, l1, l2;
        load(t3, lg3 + j);
        load(l0, lg0 + j);
        load(l1, lg1 + j);
        load(l2, lg2 + j);
        Vec<S> t0 = l0 * c0, t1 = l1 * c1, t2 = l2 * c2;
        Vec<S> t = t3 - t0;
        t = t - t1;
        t = t - t2;
        store(T + j, t);
        // The error bound of the estimate, lane by lane.
        Vec<S> a3 = t3;
        absolute(a3);
        absolute(t0);
        absolute(t1);
        absolute(t2);
        store(errT + j, kStatisticRelativeError * (((a3 + t0) + t1) + t2));
        // tail10_sum(t / 2), lane by lane.
        const Vec<S> x = t * 0.5;
        store(tailSum + j, 1.0 + x * (1.0 + x * (0.5 + x * (1.0 / 6.0 + x * (1.0 / 24.0)))));
    }
}
