#pragma once

// The cascade every SNP and unordered gene pair runs through, in the order
// SNP, g1, g2: the MC test; below the threshold, the LDA likelihood; below
// the LDA cut-off, the interaction test. Where a pair stops is its result
// line's flag. Both scan engines follow it.

#include <cstddef>
#include <cstdint>

#include <boost/math/distributions/chi_squared.hpp>

// Flags of a result line: how far the pair got through the cascade.
enum ResultFlag : int {
    kPrunedByMc = 0,   // the MC p-value did not pass the threshold
    kAllComputed = 1,  // MC, LDA and interaction test all computed
    kPrunedByLda = 2,  // passed the MC test, stopped by the LDA cut-off
};

// The LDA cut-off: -0.5 times the upper 1e-10 quantile of chi-squared(2),
// that is ln(1e-10).
inline double lda_cutoff()
{
    const boost::math::chi_squared_distribution<double> chi2(2.0);
    return -0.5 * boost::math::quantile(boost::math::complement(chi2, 1e-10));
}

// Unordered pairs of distinct genes: the lines of one SNP.
inline std::uint64_t pairs_per_snp(std::size_t genes)
{
    return genes > 1 ? std::uint64_t(genes) * (genes - 1) / 2 : 0;
}
