#pragma once

#include <boost/numeric/ublas/matrix.hpp>
#include <boost/numeric/ublas/vector.hpp>

namespace ublas = boost::numeric::ublas;

// Row = sample; columns 2k and 2k+1 hold the two allele characters of SNP k.
using GenotypeMatrix = ublas::matrix<char>;
// Row = sample, column = gene; raw expression values as read.
using ExpressionMatrix = ublas::matrix<double>;
