#pragma once

// Solves A x = b in place by LU factorisation with partial pivoting.

#include <cstddef>

#include <boost/numeric/ublas/lu.hpp>
#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

// A is overwritten by its factors once it is known to be square. Returns
// false, leaving x alone, when A is not square or a pivot is exactly 0.0.
// b and x may be the same vector; x must already have b's length.
template <class M, class VB, class VX>
bool linear_solve(M& A, VB& b, VX& x) {
    namespace ublas = boost::numeric::ublas;
    const std::size_t size = A.size1();
    if (size != A.size2()) {
        return false;
    }
    ublas::permutation_matrix<std::size_t> pm(size);
    if (ublas::lu_factorize(A, pm) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        x(i) = b(i);
    }
    // Applies the recorded interchanges to x, then both triangular solves.
    ublas::lu_substitute(A, pm, x);
    return true;
}
