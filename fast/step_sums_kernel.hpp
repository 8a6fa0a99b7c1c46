#pragma once

// The per-sample kernels of the interaction test's Newton steps, written
// once over a level's primitives S and compiled per level in
// fast/kernels_<level>.cpp. Every sum keeps sample order whatever the
// level's width, so all levels give the same bits.

#include <cstddef>
#include <utility>

#include "fast/pair_layout.hpp"
#include "fast/step_sums.hpp"
#include "simd/vector_types.hpp"

// eta = ((0.0 + 1*b[0]) + x1*b[1]) + x2*b[2] (+ z3*b[3]) for both classes,
// beta holding the p coefficients of class 0, then those of class 1.
template <class S>
void predictors(const PairColumns& c, int p, const double* beta)
{
    const double* b0 = beta;
    const double* b1 = beta + p;
    const double t0 = 0.0 + 1.0 * b0[0];
    const double t1 = 0.0 + 1.0 * b1[0];
    const double *x1 = c.x1, *x2 = c.x2, *z3 = c.z3;  // locals: the stores may alias c
    double *eta0 = c.e0, *eta1 = c.e1;
    for (std::size_t s = 0, padded = c.padded; s < padded; s += kLanes<S>) {
        Vec<S> a, b, z;
        load(a, x1 + s);
        load(b, x2 + s);
        Vec<S> e0 = (t0 + a * b0[1]) + b * b0[2];
        Vec<S> e1 = (t1 + a * b1[1]) + b * b1[2];
        if (p == 4) {
            load(z, z3 + s);
            e0 = e0 + z * b0[3];
            e1 = e1 + z * b1[3];
        }
        store(eta0 + s, e0);
        store(eta1 + s, e1);
    }
}

// What each sample's log-likelihood term is the logarithm of, from the
// exponentials of its predictors: with den = (e0 + 1) + e1, P0 = e0 / den
// and P1 = e1 / den, its class's probability, or (1 - P0) - P1 for class 2
// (y0 = y1 = 0). Where the term is the floor ln(1e-15) instead (a
// probability that is not positive or not a number; for class 2, P0 + P1
// not below 1), the argument is 1e-15 itself: the same logarithm, with no
// mask to carry. The pad entries are unread.
template <class S>
void log_arguments(const PairColumns& c, double* arg)
{
    using V = Vec<S>;
    const V floor = V{} + 1e-15;
    const double *e0 = c.e0, *e1 = c.e1, *y0 = c.y0, *y1 = c.y1;
    for (std::size_t s = 0, padded = c.padded; s < padded; s += kLanes<S>) {
        V x0, x1, c0, c1;
        load(x0, e0 + s);
        load(x1, e1 + s);
        const V den = (x0 + 1.0) + x1;
        const V a = x0 / den;
        const V b = x1 / den;
        load(c0, y0 + s);
        load(c1, y1 + s);
        const V rest = (1.0 - a) - b;
        const V two = (a + b < 1.0) ? rest : floor;
        const V one = (b > 0) ? b : floor;
        const V zero = (a > 0) ? a : floor;
        store(arg + s, c0 != 0 ? zero : (c1 != 0 ? one : two));
    }
}

// The weights (fast/step_sums.hpp) of samples s..s+7, weight k in w[k].
template <class S>
__attribute__((always_inline)) inline void step_weights(const PairColumns& c, std::size_t s,
                                                        double (*w)[8])
{
    const typename S::V one = S::set1(1.0);
    for (std::size_t j = 0; j < 8; j += S::width) {
        const typename S::V x0 = S::load(c.e0 + s + j), x1 = S::load(c.e1 + s + j);
        const typename S::V den = S::add(S::add(x0, one), x1);
        const typename S::V q0 = S::div(x0, den), q1 = S::div(x1, den);
        S::store(w[0] + j, S::mul(S::sub(q0, one), q0));
        S::store(w[1] + j, S::mul(q0, q1));
        S::store(w[2] + j, S::mul(S::sub(q1, one), q1));
        S::store(w[3] + j, S::sub(S::load(c.y0 + s + j), q0));
        S::store(w[4] + j, S::sub(S::load(c.y1 + s + j), q1));
    }
}

// Below, one vector of the level holds lanes First .. First + width - 1 of
// the design's packed vector Vec (all of it at width 8); w points at the
// sample's fa, each further weight 8 doubles on (step_weights' layout).

// Merges weight K into the lanes of v that take it, unless the first lane's
// broadcast already put it there.
template <class S, unsigned Weights, int K>
__attribute__((always_inline)) inline typename S::V weight_into(typename S::V v, const double* w)
{
    constexpr unsigned lanes = lanes_of_weight(Weights, K, S::width);
    if constexpr (lanes == 0 || K == static_cast<int>(Weights & 15))
        return v;
    else
        return S::template broadcast_into<lanes>(v, w + 8 * K);
}

// The weights: the first lane's broadcast, the others merged in.
template <class S, class Design, int Vec, int First, int... K>
__attribute__((always_inline)) inline typename S::V lane_weights(const double* w,
                                                                std::integer_sequence<int, K...>)
{
    constexpr unsigned weights = Design::vectors[Vec].weights >> 4 * First;
    typename S::V v = S::set1(w[8 * (weights & 15)]);
    ((v = weight_into<S, weights, K>(v, w)), ...);
    return v;
}

// The products, from the sample's row of m or its pair of t.
template <class S, class Design, int Vec, int First>
__attribute__((always_inline)) inline typename S::V lane_products(const double* row,
                                                                 const double* pair)
{
    constexpr unsigned products = Design::vectors[Vec].products;
    if constexpr (products == 0x76543210)
        return S::load(row + First);
    else if constexpr (products == 0x32103210)
        return S::broadcast_quad(row + First % 4);
    else if constexpr (products == 0x98989898)
        return S::broadcast_pair(pair + First % 2);
    else {
        static_assert((products & 0x88888888) == 0, "t's products only as a repeated pair");
        return S::template permute_row<(products >> 4 * First)>(row);
    }
}

// One sample added to every running sum: acc[K] holds lanes First.. of
// packed vector Vec, K = Vec * (8 / width) + First / width.
template <class S, class Design, std::size_t... K>
__attribute__((always_inline)) inline void add_sample(typename S::V* acc, const double* w,
                                                      const double* row, const double* pair,
                                                      std::index_sequence<K...>)
{
    constexpr int chunks = 8 / S::width;
    const auto weights = std::make_integer_sequence<int, kWeights>();
    ((acc[K] = S::add(acc[K],
                      S::mul(lane_weights<S, Design, K / chunks, K % chunks * S::width>(w, weights),
                             lane_products<S, Design, K / chunks, K % chunks * S::width>(row, pair)))),
     ...);
}

// The running sums to out, in lane order.
template <class S, std::size_t... K>
__attribute__((always_inline)) inline void store_sums(const typename S::V* acc, double* out,
                                                      std::index_sequence<K...>)
{
    (S::store(out + K * S::width, acc[K]), ...);
}

// The design's packed sums (fast/step_sums.hpp) at the exponentials in
// c.e0 and c.e1: Design::count * 8 lanes to out. The next block's weights
// are formed before this block's samples are added, so their divisions run
// while the additions do; the loop over a block is unrolled, so a block's
// end costs no mispredicted branch.
template <class S, class Design>
void step_sums(const PairColumns& c, double* out)
{
    constexpr std::size_t vectors = Design::count * 8 / S::width;
    const auto each = std::make_index_sequence<vectors>();
    typename S::V acc[vectors] = {};
    alignas(64) double weights[2][kWeights][8];
    const double *m = c.m, *t = c.t;
    const std::size_t n = c.n;
    if (n > 0)
        step_weights<S>(c, 0, weights[0]);
    for (std::size_t s = 0; s < n; s += 8) {
        const double(*w)[8] = weights[s / 8 % 2];
        if (s + 8 < n)
            step_weights<S>(c, s + 8, weights[(s / 8 + 1) % 2]);
        const std::size_t block = n - s < 8 ? n - s : 8;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < 8; ++i) {
            if (i >= block)
                break;
            add_sample<S, Design>(acc, &w[0][i], m + 8 * (s + i), t + 2 * (s + i), each);
        }
    }
    store_sums<S>(acc, out, each);
}
