#include "linalg/small_lu.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

namespace {

constexpr std::size_t kStride = kSmallOrder;

// The orders the fits use get their own copies, sized at compile time.
// Same operations in the same order as the runtime size. (Pivot search and
// interchanges without branches made the generic level slower.)
template <std::size_t N>
using Order = std::integral_constant<std::size_t, N>;

// Pivot: the first row of largest |value| at or below the diagonal, found
// with u > t from t = 0 (so a column of zeros and NaNs keeps the diagonal).
// A zero pivot leaves its column unscaled, but the trailing block is still
// updated, as the library does: each entry right of the pivot column gets
// its own a - l * pivot-row entry.
template <class Size>
std::size_t factor(double* a, Size size, std::size_t* pivots)
{
    std::size_t singular = 0;
    for (std::size_t i = 0; i < size; ++i)
        pivots[i] = i;
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t best = i;
        double t = 0.0;
        for (std::size_t r = i; r < size; ++r) {
            const double u = std::fabs(a[r * kStride + i]);
            if (u > t) {
                best = r;
                t = u;
            }
        }
        double* pivotRow = a + i * kStride;
        if (a[best * kStride + i] != 0.0) {
            if (best != i) {
                pivots[i] = best;
                std::swap_ranges(pivotRow, pivotRow + kStride, a + best * kStride);
            }
            const double inv = 1.0 / pivotRow[i];
            for (std::size_t r = i + 1; r < size; ++r)
                a[r * kStride + i] *= inv;
        } else if (singular == 0) {
            singular = i + 1;
        }
        for (std::size_t r = i + 1; r < size; ++r) {
            double* row = a + r * kStride;
            const double l = row[i];
            for (std::size_t c = i + 1; c < size; ++c)
                row[c] = row[c] - l * pivotRow[c];
        }
    }
    return singular;
}

// Interchanges first, then the two triangular solves row by row, each row's
// sum from its own right-hand side in column order; the unit diagonal still
// divides (by 1.0), as the library's lower solve does.
template <class Size>
void solve(const double* lu, Size size, const std::size_t* pivots, double* x)
{
    for (std::size_t i = 0; i < size; ++i)
        if (pivots[i] != i)
            std::swap(x[i], x[pivots[i]]);
    for (std::size_t r = 0; r < size; ++r) {
        double t = x[r];
        for (std::size_t c = 0; c < r; ++c)
            t -= lu[r * kStride + c] * x[c];
        x[r] = t / 1.0;
    }
    for (std::size_t r = size; r-- > 0;) {
        double t = x[r];
        for (std::size_t c = r + 1; c < size; ++c)
            t -= lu[r * kStride + c] * x[c];
        x[r] = t / lu[r * kStride + r];
    }
}

}  // namespace

std::size_t small_lu_factor(double* a, std::size_t size, std::size_t* pivots)
{
    if (size == 6)
        return factor(a, Order<6>(), pivots);
    if (size == 8)
        return factor(a, Order<8>(), pivots);
    return factor(a, size, pivots);
}

double small_lu_determinant(const double* lu, std::size_t size, const std::size_t* pivots)
{
    double det = 1.0;
    for (std::size_t i = 0; i < size; ++i) {
        double f = lu[i * kStride + i];
        if (pivots[i] != i)
            f = -f;
        det = f * det;
    }
    return det;
}

void small_lu_solve(const double* lu, std::size_t size, const std::size_t* pivots, double* x)
{
    if (size == 6)
        return solve(lu, Order<6>(), pivots, x);
    if (size == 8)
        return solve(lu, Order<8>(), pivots, x);
    solve(lu, size, pivots, x);
}
