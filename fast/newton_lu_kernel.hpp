#pragma once

// The LU factorisation of a Newton step's Hessian (6x6 or 8x8, rows
// kSmallOrder apart), as linalg/small_lu factorises it: the same pivots and,
// entry by entry, the same operations in the same order. Only the row
// updates differ in form: each entry of a row is updated independently of
// its neighbours, so a row is a few vectors of the level, the entries left
// of the pivot column kept by a blend. Steps and vectors are template
// arguments, so every blend's lanes are constants.

#include <cstddef>
#include <utility>

#include "linalg/small_lu.hpp"

// Of the W lanes of columns first.., those whose column is above `column`
// (Above) or equal to it, as a mask.
template <bool Above>
constexpr unsigned lu_lanes(std::size_t first, std::size_t width, std::size_t column)
{
    unsigned mask = 0;
    for (std::size_t j = 0; j < width; ++j)
        if (Above ? first + j > column : first + j == column)
            mask |= 1u << j;
    return mask;
}

// Vector K of a row below pivot row I: l in column I, the update right of it.
template <class S, std::size_t I, std::size_t K>
__attribute__((always_inline)) inline void lu_update(double* row, const typename S::V* p,
                                                     typename S::V l)
{
    constexpr std::size_t W = S::width;
    constexpr unsigned right = lu_lanes<true>(K * W, W, I), at = lu_lanes<false>(K * W, W, I);
    if constexpr (right != 0 || at != 0) {
        typename S::V x = S::load(row + K * W);
        if constexpr (right != 0)
            x = S::template blend<right>(x, S::sub(x, S::mul(l, p[K])));
        if constexpr (at != 0)
            x = S::template blend<at>(x, l);
        S::store(row + K * W, x);
    }
}

// Step I: pivot, interchange, then the rows below.
template <class S, std::size_t N, std::size_t I, std::size_t... K>
__attribute__((always_inline)) inline void lu_step(double* a, std::size_t* pivots,
                                                   std::size_t& singular,
                                                   std::index_sequence<K...>)
{
    constexpr std::size_t W = S::width, stride = kSmallOrder;
    std::size_t best = I;
    double t = 0.0;
#pragma GCC unroll 8
    for (std::size_t r = I; r < N; ++r) {
        const double u = __builtin_fabs(a[r * stride + I]);
        const bool larger = u > t;
        best = larger ? r : best;
        t = larger ? u : t;
    }
    // Without branches, which the pivots' rows would mispredict: a zero
    // pivot is only ever found on the diagonal (best == I), so the
    // interchange can always be made, with itself where there is none.
    double* pivotRow = a + I * stride;
    double* other = a + best * stride;
    const double pivot = other[I];
    const bool scale = pivot != 0.0;
    singular = singular == 0 && !scale ? I + 1 : singular;
    pivots[I] = best;
    typename S::V p[sizeof...(K)];
    ((p[K] = S::load(other + K * W)), ...);
    ((S::store(other + K * W, S::load(pivotRow + K * W))), ...);
    ((S::store(pivotRow + K * W, p[K])), ...);
    const double inv = scale ? 1.0 / pivot : 1.0;
#pragma GCC unroll 8
    for (std::size_t r = I + 1; r < N; ++r) {
        double* row = a + r * stride;
        const double l = scale ? row[I] * inv : row[I];
        const typename S::V lanes = S::set1(l);
        (lu_update<S, I, K>(row, p, lanes), ...);
    }
}

template <class S, std::size_t N, std::size_t... I>
__attribute__((always_inline)) inline std::size_t lu_factor_order(double* a, std::size_t* pivots,
                                                                  std::index_sequence<I...>)
{
    constexpr std::size_t chunks = (N + S::width - 1) / S::width;
    std::size_t singular = 0;
    (lu_step<S, N, I>(a, pivots, singular, std::make_index_sequence<chunks>()), ...);
    return singular;
}

// small_lu_factor's result and factors, for the orders the fits use.
// With one lane a row is its entries: the scalar code, unrolled this way,
// spills.
template <class S>
std::size_t lu_factor(double* a, std::size_t size, std::size_t* pivots)
{
    if constexpr (S::width > 1) {
        if (size == 8)
            return lu_factor_order<S, 8>(a, pivots, std::make_index_sequence<8>());
        if (size == 6)
            return lu_factor_order<S, 6>(a, pivots, std::make_index_sequence<6>());
    }
    return small_lu_factor(a, size, pivots);
}
