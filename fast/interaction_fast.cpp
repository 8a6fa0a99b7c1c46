#include "fast/interaction_fast.hpp"

#include <algorithm>
#include <cmath>

#include "exact/chi_squared_tail.hpp"
#include "fast/pair_layout.hpp"
#include "fast/step_sums.hpp"
#include "linalg/small_lu.hpp"

namespace {

// The arrays of the pair prepared in ws.
PairColumns view(const InteractionWorkspace& ws)
{
    return pair_columns(ws.store.get(), ws.n);
}

// exp of both predictors at beta, over the padded length (whole vectors; the
// pad entries are unread). Predictors of 500 and above, and NaN, are capped
// at 500; exp_batch_capped gives std::exp's values bit for bit.
void exponentials(const Kernels& k, const PairColumns& c, int p, const double* beta)
{
    k.fast.predictors(c, p, beta);
    // e1 follows e0: one batch for both.
    k.exact.exp_batch_capped(c.e0, c.e0, 2 * c.padded, 500.0);
}

// The log-likelihood's terms, in sample order, at the exponentials in c.
void log_terms(const Kernels& k, const PairColumns& c, double* term)
{
    k.fast.log_arguments(c, term);
    k.exact.log_exact_batch(term, term, c.n);
}

// The sums of one Newton step, packed as the kernel of their design left them.
struct Sums {
    double lane[kMaxSumLanes];
    const SumLanes* lanes;
};

// Sums of the score and Hessian at the exponentials last formed in c.
void accumulate(const Kernels& k, const PairColumns& c, int p, Sums& sums)
{
    if (p == 4) {
        k.fast.step_sums_full(c, sums.lane);
        sums.lanes = &kSumLanesOf<FullDesignSums>;
    } else {
        k.fast.step_sums_reduced(c, sums.lane);
        sums.lanes = k.fast.reduced_lanes;
    }
}

double sum_of(const Sums& sums, int weight, int product)
{
    return sums.lane[sums.lanes->lane[weight][product]];
}

// Index of the product x_j x_l among the ten.
constexpr int kProduct[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 7}, {2, 5, 6, 8}, {3, 7, 8, 9}};

// Score g (2p) and Hessian H (2p x 2p, rows kSmallOrder apart) from the sums.
// All blocks are symmetric, H10 being H01 transposed.
void score_hessian(const Sums& sums, int p, double* g, double* H)
{
    constexpr int q = static_cast<int>(kSmallOrder);
    for (int j = 0; j < p; ++j) {
        g[j] = sum_of(sums, kG0, j);
        g[p + j] = sum_of(sums, kG1, j);
        for (int l = 0; l < p; ++l) {
            const int k = kProduct[j][l];
            H[j * q + l] = sum_of(sums, kH00, k);
            H[j * q + p + l] = sum_of(sums, kH01, k);
            H[(p + j) * q + l] = sum_of(sums, kH01, k);
            H[(p + j) * q + p + l] = sum_of(sums, kH11, k);
        }
    }
}

// Both fits start from beta = 0. For finite data every predictor of either
// design is +0 there (x * 0 is +-0, and 0 + -0 is +0), so the exponentials
// are 1.0, the probabilities the same, and the reduced design's sums are
// some of the full design's, added in the same order: the first step's sums
// are formed once for both. (With non-finite data a predictor may be NaN in
// one design only, e.g. where x1 x2 overflows; each fit then takes its own
// start.)
struct Start {
    Sums sums;
    bool current = true;  // the exponentials in the columns are still those at 0
};

// The Newton-Raphson fit from beta = 0 in place. Returns true when the
// exponentials in c are those at the returned beta (the fit stopped on the
// determinant or the solve), so they need not be recomputed.
bool newton_fit(const Kernels& k, const PairColumns& c, int p, double* beta, const Start& start)
{
    const std::size_t q = 2 * static_cast<std::size_t>(p);
    const double tolerance = 0.06 * static_cast<double>(static_cast<unsigned>(p));
    double bnew[kSmallOrder] = {}, bold[kSmallOrder] = {};
    bool current = false;
    int steps = 0;
    for (;;) {
        for (std::size_t j = 0; j < q; ++j)
            bold[j] = bnew[j];
        Sums fresh;
        const Sums* sums = &start.sums;
        if (steps > 0) {
            exponentials(k, c, p, bold);
            accumulate(k, c, p, fresh);
            sums = &fresh;
        }
        double g[kSmallOrder];
        double H[kSmallOrder * kSmallOrder] = {};
        score_hessian(*sums, p, g, H);

        // The determinant and the solve factorise the same matrix the same
        // way: one factorisation serves both.
        std::size_t pivots[kSmallOrder];
        const std::size_t singular = k.fast.lu_factor(H, q, pivots);
        const double det = small_lu_determinant(H, q, pivots);
        if (det < 1e-15 || std::isnan(det) || singular != 0) {
            current = steps > 0 || start.current;
            break;
        }
        small_lu_solve(H, q, pivots, g);
        for (std::size_t j = 0; j < q; ++j)
            bnew[j] = bold[j] - g[j];
        ++steps;

        double s = 0.0;
        for (std::size_t j = 0; j < q; ++j) {
            const double d = bnew[j] - bold[j];
            s += d * d;
        }
        if (s <= tolerance || std::isnan(s) || steps == 11)
            break;
    }
    for (std::size_t j = 0; j < q; ++j)
        beta[j] = bnew[j];
    return current;
}

// The fitted model's log-likelihood terms.
void fitted_terms(const Kernels& k, const PairColumns& c, int p, const Start& start, double* term)
{
    double beta[kSmallOrder] = {};
    if (!newton_fit(k, c, p, beta, start))
        exponentials(k, c, p, beta);
    log_terms(k, c, term);
}

}  // namespace

void prepare_pair(const double* x1, const double* x2, const unsigned char* cls, std::size_t n,
                  InteractionWorkspace& ws)
{
    const std::size_t need = pair_storage(n);
    if (ws.capacity < need) {
        ws.store = aligned_doubles(need);
        ws.capacity = need;
    }
    ws.n = n;
    const PairColumns c = view(ws);
    ws.all_finite = ws.kernels->fast.lay_out(x1, x2, cls, c);
    for (std::size_t s = n; s < c.padded; ++s)
        c.x1[s] = c.x2[s] = c.z3[s] = c.y0[s] = c.y1[s] = 0.0;
}

double lda_log_likelihood_fast(InteractionWorkspace& ws, const double* beta)
{
    const Kernels& k = *ws.kernels;
    const PairColumns c = view(ws);
    exponentials(k, c, 3, beta);
    log_terms(k, c, c.term);
    double ll = 0.0;
    for (std::size_t s = 0; s < c.n; ++s)
        ll += c.term[s];
    return ll;
}

double interaction_test_fast(InteractionWorkspace& ws, double& llR, double& llF, double& stat)
{
    const Kernels& k = *ws.kernels;
    const PairColumns c = view(ws);
    k.fast.design_products(c);
    Start start;
    if (ws.all_finite) {
        std::fill(c.e0, c.e0 + c.padded, 1.0);
        std::fill(c.e1, c.e1 + c.padded, 1.0);
        accumulate(k, c, 4, start.sums);
        fitted_terms(k, c, 3, start, c.termR);
        start.current = false;  // the reduced fit moved on from 0
    } else {
        const double zero[kSmallOrder] = {};
        Start reduced;
        exponentials(k, c, 3, zero);
        accumulate(k, c, 3, reduced.sums);
        fitted_terms(k, c, 3, reduced, c.termR);
        exponentials(k, c, 4, zero);
        accumulate(k, c, 4, start.sums);
    }
    fitted_terms(k, c, 4, start, c.term);
    // Both sums in sample order, side by side: two chains of additions
    // overlap where one after the other would wait on each addition.
    double reducedSum = 0.0, fullSum = 0.0;
    for (std::size_t s = 0; s < c.n; ++s) {
        reducedSum += c.termR[s];
        fullSum += c.term[s];
    }
    llR = reducedSum;
    llF = fullSum;
    stat = (llF - llR) + (llF - llR);
    if (!(stat > 0))
        return 1.0;
    return chi_squared_tail2(stat);
}

double interaction_test_fast(const double* x1, const double* x2, const unsigned char* cls,
                             std::size_t n, InteractionWorkspace& ws, double& llR, double& llF,
                             double& stat)
{
    prepare_pair(x1, x2, cls, n, ws);
    return interaction_test_fast(ws, llR, llF, stat);
}
