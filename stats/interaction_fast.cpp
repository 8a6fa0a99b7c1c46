#include "stats/interaction_fast.hpp"

#include <cmath>
#include <cstring>
#include <utility>

#include "stats/chi_squared_tail.hpp"
#include "stats/exp_batch.hpp"
#include "stats/simd.hpp"

namespace interaction_fast_detail {

// Pivot: the first row of largest |value| at or below the diagonal, found
// with u > t from t = 0 (so a column of zeros and NaNs keeps the diagonal).
// A zero pivot leaves its column unscaled, but the trailing block is still
// updated, as the library does.
std::size_t lu_factor(double* a, std::size_t size, std::size_t* pivots)
{
    std::size_t singular = 0;
    for (std::size_t i = 0; i < size; ++i)
        pivots[i] = i;
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t best = i;
        double t = 0.0;
        for (std::size_t r = i; r < size; ++r) {
            const double u = std::fabs(a[r * size + i]);
            if (u > t) {
                best = r;
                t = u;
            }
        }
        if (a[best * size + i] != 0.0) {
            if (best != i) {
                pivots[i] = best;
                for (std::size_t c = 0; c < size; ++c)
                    std::swap(a[i * size + c], a[best * size + c]);
            }
            const double inv = 1.0 / a[i * size + i];
            for (std::size_t r = i + 1; r < size; ++r)
                a[r * size + i] *= inv;
        } else if (singular == 0) {
            singular = i + 1;
        }
        for (std::size_t r = i + 1; r < size; ++r) {
            const double l = a[r * size + i];
            for (std::size_t c = i + 1; c < size; ++c)
                a[r * size + c] -= l * a[i * size + c];
        }
    }
    return singular;
}

double lu_determinant(const double* lu, std::size_t size, const std::size_t* pivots)
{
    double det = 1.0;
    for (std::size_t i = 0; i < size; ++i) {
        double f = lu[i * size + i];
        if (pivots[i] != i)
            f = -f;
        det = f * det;
    }
    return det;
}

// Interchanges first, then the two triangular solves row by row, each row's
// sum from its own right-hand side in column order; the unit diagonal still
// divides (by 1.0), as the library's lower solve does.
void lu_solve(const double* lu, std::size_t size, const std::size_t* pivots, double* x)
{
    for (std::size_t i = 0; i < size; ++i)
        if (pivots[i] != i)
            std::swap(x[i], x[pivots[i]]);
    for (std::size_t r = 0; r < size; ++r) {
        double t = x[r];
        for (std::size_t c = 0; c < r; ++c)
            t -= lu[r * size + c] * x[c];
        x[r] = t / 1.0;
    }
    for (std::size_t r = size; r-- > 0;) {
        double t = x[r];
        for (std::size_t c = r + 1; c < size; ++c)
            t -= lu[r * size + c] * x[c];
        x[r] = t / lu[r * size + r];
    }
}

}  // namespace interaction_fast_detail

// The per-sample kernels. External linkage: target_clones needs it.
namespace interaction_fast_kernels {

// eta = ((0.0 + 1*b[0]) + x1*b[1]) + x2*b[2] (+ z3*b[3]) for both classes,
// over a length that is a multiple of 8.
__attribute__((target_clones("avx512f", "avx2", "default")))
void predictors(const double* x1, const double* x2, const double* z3, std::size_t padded,
                const double* beta, int p, double* eta0, double* eta1)
{
    const double* b0 = beta;
    const double* b1 = beta + p;
    const double t0 = 0.0 + 1.0 * b0[0];
    const double t1 = 0.0 + 1.0 * b1[0];
    for (std::size_t s = 0; s < padded; s += 8) {
        v8d a, b, c;
        load(a, x1 + s);
        load(b, x2 + s);
        v8d e0 = (t0 + a * b0[1]) + b * b0[2];
        v8d e1 = (t1 + a * b1[1]) + b * b1[2];
        if (p == 4) {
            load(c, z3 + s);
            e0 = e0 + c * b0[3];
            e1 = e1 + c * b1[3];
        }
        store(eta0 + s, e0);
        store(eta1 + s, e1);
    }
}

// den = (e0 + 1) + e1, the two probabilities, and what the score and Hessian
// weigh each sample by: a = (P0-1)P0, b = P0 P1, c = (P1-1)P1, d = y - P.
__attribute__((target_clones("avx512f", "avx2", "default")))
void probabilities(const double* e0, const double* e1, const double* y0, const double* y1,
                   std::size_t padded, double* p0, double* p1, double* fa, double* fb,
                   double* fc, double* d0, double* d1)
{
    for (std::size_t s = 0; s < padded; s += 8) {
        v8d x0, x1, c0, c1;
        load(x0, e0 + s);
        load(x1, e1 + s);
        load(c0, y0 + s);
        load(c1, y1 + s);
        const v8d den = (x0 + 1.0) + x1;
        const v8d q0 = x0 / den;
        const v8d q1 = x1 / den;
        store(p0 + s, q0);
        store(p1 + s, q1);
        store(fa + s, (q0 - 1.0) * q0);
        store(fb + s, q0 * q1);
        store(fc + s, (q1 - 1.0) * q1);
        store(d0 + s, c0 - q0);
        store(d1 + s, c1 - q1);
    }
}

// One running sum per lane, fed sample by sample in order, so each lane is
// exactly the scalar accumulation of one Hessian entry or score entry. Each
// sample's row of u holds 16 lanes (see kProducts): the products x_j x_l of
// the upper triangle in lanes 0-9, the design row in lanes 12-15.
// out: H00, H01, H11 lanes 0-9 (16 apart), then g0 and g1 (4 each).
__attribute__((target_clones("avx512f", "avx2", "default")))
void accumulate3(const double* u, const double* fa, const double* fb, const double* fc,
                 const double* d0, const double* d1, std::size_t n, double* out)
{
    // The reduced design's entries all sit in the first eight lanes.
    v8d h00{}, h01{}, h11{};
    v4d g0{}, g1{};
    for (std::size_t s = 0; s < n; ++s) {
        const double* row = u + 16 * s;
        v8d m;
        v4d x;
        load(m, row);
        load(x, row + 12);
        h00 += fa[s] * m;
        h01 += fb[s] * m;
        h11 += fc[s] * m;
        g0 += x * d0[s];
        g1 += x * d1[s];
    }
    store(out, h00);
    store(out + 16, h01);
    store(out + 32, h11);
    store(out + 48, g0);
    store(out + 52, g1);
}

__attribute__((target_clones("avx512f", "avx2", "default")))
void accumulate4(const double* u, const double* fa, const double* fb, const double* fc,
                 const double* d0, const double* d1, std::size_t n, double* out)
{
    v8d h00a{}, h01a{}, h11a{};
    v4d h00b{}, h01b{}, h11b{};
    v4d g0{}, g1{};
    for (std::size_t s = 0; s < n; ++s) {
        const double* row = u + 16 * s;
        const double a = fa[s], b = fb[s], c = fc[s];
        v8d m;
        v4d m2, x;
        load(m, row);
        load(m2, row + 8);
        load(x, row + 12);
        h00a += a * m;
        h01a += b * m;
        h11a += c * m;
        h00b += a * m2;
        h01b += b * m2;
        h11b += c * m2;
        g0 += x * d0[s];
        g1 += x * d1[s];
    }
    store(out, h00a);
    store(out + 8, h00b);
    store(out + 16, h01a);
    store(out + 24, h01b);
    store(out + 32, h11a);
    store(out + 40, h11b);
    store(out + 48, g0);
    store(out + 52, g1);
}

}  // namespace interaction_fast_kernels

namespace {

using namespace interaction_fast_detail;
namespace kernels = interaction_fast_kernels;

// Per-sample arrays carved from the workspace, each padded to a multiple of 8
// samples so the kernels run whole vectors; pad entries are never read back.
struct Samples {
    std::size_t n = 0;
    std::size_t padded = 0;
    const unsigned char* cls = nullptr;
    double *x1, *x2, *z3, *y0, *y1;
    double *e0, *e1, *p0, *p1, *fa, *fb, *fc, *d0, *d1;
    double* u;  // 16 lanes per sample
};

constexpr std::size_t kColumns = 14;  // the length-n arrays above
constexpr std::size_t kProductLanes = 16;

std::size_t padded_length(std::size_t n)
{
    return (n + 7) / 8 * 8;
}

// The arrays of the pair prepared in ws.
Samples view(InteractionWorkspace& ws)
{
    Samples S;
    S.n = ws.n;
    S.padded = padded_length(ws.n);
    S.cls = ws.cls;
    double* next = ws.store.data();
    double** columns[kColumns] = {&S.x1, &S.x2, &S.z3, &S.y0, &S.y1, &S.e0, &S.e1,
                                  &S.p0, &S.p1, &S.fa, &S.fb, &S.fc, &S.d0, &S.d1};
    for (double** c : columns) {
        *c = next;
        next += S.padded;
    }
    S.u = next;
    return S;
}

// The products x_j x_l of the designs (1, x1, x2) and (1, x1, x2, x1*x2)
// depend on the data only: formed once per pair, not once per step. The
// reduced design's six come first so that one vector covers them.
void form_products(const Samples& S)
{
    for (std::size_t s = 0; s < S.n; ++s) {
        const double a = S.x1[s], b = S.x2[s], c = S.z3[s];
        double* row = S.u + 16 * s;
        row[0] = 1.0 * 1.0;
        row[1] = 1.0 * a;
        row[2] = 1.0 * b;
        row[3] = a * a;
        row[4] = a * b;
        row[5] = b * b;
        row[6] = 1.0 * c;
        row[7] = a * c;
        row[8] = b * c;
        row[9] = c * c;
        row[10] = row[11] = 0.0;
        row[12] = 1.0;
        row[13] = a;
        row[14] = b;
        row[15] = c;
    }
}

// Predictors of 500 and above, and NaN, are capped at 500. exp_batch_capped
// gives std::exp's values bit for bit (exp(0) = 1 included, at vector
// speed). Run over the padded length: whole vectors only, the pad entries
// being unread.
void exponentials(double* e0, double* e1, std::size_t n)
{
    exp_batch_capped(e0, e0, n, 500.0);
    exp_batch_capped(e1, e1, n, 500.0);
}

// Class probabilities (and the score and Hessian weights) at beta.
void evaluate(const Samples& S, int p, const double* beta)
{
    kernels::predictors(S.x1, S.x2, S.z3, S.padded, beta, p, S.e0, S.e1);
    exponentials(S.e0, S.e1, S.padded);
    kernels::probabilities(S.e0, S.e1, S.y0, S.y1, S.padded, S.p0, S.p1, S.fa, S.fb, S.fc, S.d0,
                           S.d1);
}

double log_likelihood(const Samples& S)
{
    const double lmin = std::log(1e-15);
    double ll = 0.0;
    for (std::size_t s = 0; s < S.n; ++s) {
        const double p0 = S.p0[s];
        const double p1 = S.p1[s];
        double term;
        if (S.cls[s] == 0) {
            term = p0 > 0 ? std::log(p0) : lmin;
        } else if (S.cls[s] == 1) {
            term = p1 > 0 ? std::log(p1) : lmin;
        } else {
            const double sum = p0 + p1;
            term = sum < 1.0 ? std::log((1.0 - p0) - p1) : lmin;
        }
        ll += term;
    }
    return ll;
}

// Lane of the product x_j x_l in a sample's row of products.
constexpr int kUpper3[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
constexpr int kUpper4[4][4] = {{0, 1, 2, 6}, {1, 3, 4, 7}, {2, 4, 5, 8}, {6, 7, 8, 9}};

// The running sums of the score and Hessian over the samples at the
// evaluated point: H00, H01, H11 (16 lanes apart), then g0 and g1 (4 each).
struct Sums {
    double lane[3 * 16 + 8];
};

void accumulate(const Samples& S, int p, Sums& sums)
{
    if (p == 4)
        kernels::accumulate4(S.u, S.fa, S.fb, S.fc, S.d0, S.d1, S.n, sums.lane);
    else
        kernels::accumulate3(S.u, S.fa, S.fb, S.fc, S.d0, S.d1, S.n, sums.lane);
}

// Score g (2p) and Hessian H (2p x 2p, row-major) from the sums. All blocks
// are symmetric, H10 being H01 transposed.
void score_hessian(const Sums& sums, int p, double* g, double* H)
{
    const double* h00 = sums.lane;
    const double* h01 = sums.lane + 16;
    const double* h11 = sums.lane + 32;
    const double* g0 = sums.lane + 48;
    const double* g1 = g0 + 4;
    const int q = 2 * p;
    for (int j = 0; j < p; ++j) {
        g[j] = g0[j];
        g[p + j] = g1[j];
        for (int l = 0; l < p; ++l) {
            const int k = p == 4 ? kUpper4[j][l] : kUpper3[j][l];
            H[j * q + l] = h00[k];
            H[j * q + p + l] = h01[k];
            H[(p + j) * q + l] = h01[k];
            H[(p + j) * q + p + l] = h11[k];
        }
    }
}

// Both fits start from beta = 0, where every predictor of either design is
// 0 (or NaN, capped alike, for non-finite data): the same probabilities, and
// the reduced design's sums are the same lanes of the full design's, added
// in the same order. So the first step's sums are formed once for both.
struct Start {
    Sums sums;
    bool current = true;  // the arrays in S still hold the evaluation at 0
};

// The Newton-Raphson fit from beta = 0 in place. Returns true when the
// probabilities in S are those at the returned beta (the fit stopped on the
// determinant or the solve), so they need not be recomputed.
bool newton_fit(const Samples& S, int p, double* beta, const Start& start)
{
    const std::size_t q = 2 * static_cast<std::size_t>(p);
    const double tolerance = 0.06 * static_cast<double>(static_cast<unsigned>(p));
    double bnew[kMaxOrder] = {}, bold[kMaxOrder] = {};
    bool current = false;
    int steps = 0;
    for (;;) {
        for (std::size_t k = 0; k < q; ++k)
            bold[k] = bnew[k];
        Sums fresh;
        const Sums* sums = &start.sums;
        if (steps > 0) {
            evaluate(S, p, bold);
            accumulate(S, p, fresh);
            sums = &fresh;
        }
        double g[kMaxOrder];
        double H[kMaxOrder * kMaxOrder];
        score_hessian(*sums, p, g, H);

        // The determinant and the solve factorise the same matrix the same
        // way: one factorisation serves both.
        std::size_t pivots[kMaxOrder];
        const std::size_t singular = lu_factor(H, q, pivots);
        const double det = lu_determinant(H, q, pivots);
        if (det < 1e-15 || std::isnan(det) || singular != 0) {
            current = steps > 0 || start.current;
            break;
        }
        lu_solve(H, q, pivots, g);
        for (std::size_t k = 0; k < q; ++k)
            bnew[k] = bold[k] - g[k];
        ++steps;

        double s = 0.0;
        for (std::size_t k = 0; k < q; ++k) {
            const double d = bnew[k] - bold[k];
            s += d * d;
        }
        if (s <= tolerance || std::isnan(s) || steps == 11)
            break;
    }
    for (std::size_t k = 0; k < q; ++k)
        beta[k] = bnew[k];
    return current;
}

double fitted_log_likelihood(const Samples& S, int p, const Start& start)
{
    double beta[kMaxOrder] = {};
    if (!newton_fit(S, p, beta, start))
        evaluate(S, p, beta);
    return log_likelihood(S);
}

}  // namespace

void prepare_pair(const double* x1, const double* x2, const unsigned char* cls, std::size_t n,
                  InteractionWorkspace& ws)
{
    const std::size_t padded = padded_length(n);
    const std::size_t need = padded * (kColumns + kProductLanes);
    if (ws.store.size() < need)
        ws.store.resize(need);
    ws.n = n;
    ws.cls = cls;
    ws.products_overflow = false;
    const Samples S = view(ws);
    for (std::size_t s = 0; s < n; ++s) {
        S.x1[s] = x1[s];
        S.x2[s] = x2[s];
        S.z3[s] = x1[s] * x2[s];
        S.y0[s] = cls[s] == 0 ? 1.0 : 0.0;
        S.y1[s] = cls[s] == 1 ? 1.0 : 0.0;
        if (std::isfinite(x1[s]) && std::isfinite(x2[s]) && !std::isfinite(S.z3[s]))
            ws.products_overflow = true;
    }
    for (std::size_t s = n; s < padded; ++s)
        S.x1[s] = S.x2[s] = S.z3[s] = S.y0[s] = S.y1[s] = 0.0;
}

double lda_log_likelihood_fast(InteractionWorkspace& ws, const double* beta)
{
    const Samples S = view(ws);
    evaluate(S, 3, beta);
    return log_likelihood(S);
}

double interaction_test_fast(InteractionWorkspace& ws, double& llR, double& llF, double& stat)
{
    const Samples S = view(ws);
    form_products(S);
    const double zero[kMaxOrder] = {};
    Start start;
    evaluate(S, 4, zero);
    accumulate(S, 4, start.sums);
    if (ws.products_overflow) {
        // An interaction product of finite values overflowed: at 0 the full
        // design's predictor is NaN where the reduced one's is 0.
        Start reduced;
        evaluate(S, 3, zero);
        accumulate(S, 3, reduced.sums);
        llR = fitted_log_likelihood(S, 3, reduced);
    } else {
        llR = fitted_log_likelihood(S, 3, start);
    }
    start.current = false;
    llF = fitted_log_likelihood(S, 4, start);
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
