#pragma once

#include <cmath>

#include "io/globals.hpp"

// Fills the test data of SNP k and genes g1, g2: per sample s, X(s, 0) and
// X(s, 1) = log10 of the two genes' raw expression, and Y(s, .) = the
// genotype class against reference allele r: (1,0) both alleles equal r,
// (0,1) exactly one does, (0,0) neither. Characters compare exactly, so
// case matters. X and Y must already be n by 2.
//
// A blank r is replaced by sample 0's first allele at SNP k and written
// back, so it holds for the later pairs of the same SNP. Without samples
// there is nothing to take it from, and r is left as it is.
template <class XMatrix, class YMatrix, class EMatrix, class GMatrix>
void getxmatymat_new(XMatrix& X, YMatrix& Y, EMatrix& E, GMatrix& G, unsigned& k,
                     unsigned& g1, unsigned& g2, char& r)
{
    const unsigned samples = static_cast<unsigned>(n);
    if (r == ' ' && samples > 0)
        r = G(0, 2 * k);
    for (unsigned s = 0; s < samples; ++s) {
        const bool first = G(s, 2 * k) == r;
        const bool second = G(s, 2 * k + 1) == r;
        Y(s, 0) = (first && second) ? 1 : 0;
        Y(s, 1) = (first != second) ? 1 : 0;
        X(s, 0) = std::log10(E(s, g1));
        X(s, 1) = std::log10(E(s, g2));
    }
}
