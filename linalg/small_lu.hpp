#pragma once

// LU factorisation with partial pivoting, determinant and solve of a small
// matrix (size at most kSmallOrder) stored row by row, rows kSmallOrder
// doubles apart (columns past size are scratch). They reproduce the matrix
// library's lu_factorize, math::determinant and lu_substitute step for step,
// so each gives the library's bits, without its allocations.

#include <cstddef>

constexpr std::size_t kSmallOrder = 8;

// Factorises a in place into L (strictly below the diagonal, unit diagonal
// implied) and U; pivots[i] is the row exchanged with row i at step i.
// Returns 0, or one plus the first column whose pivot was exactly 0.0.
std::size_t small_lu_factor(double* a, std::size_t size, std::size_t* pivots);

// The product of U's diagonal, one sign change per interchange made.
double small_lu_determinant(const double* lu, std::size_t size, const std::size_t* pivots);

// Overwrites x (the right-hand side) with the solution.
void small_lu_solve(const double* lu, std::size_t size, const std::size_t* pivots, double* x);
