#pragma once

#include <cstddef>
#include <vector>

// The rank-based inverse-normal transform: each value replaced by the
// standard normal quantile of its rank, Phi^-1((r - 3/8) / (n + 1/4))
// (Blom's offset), tied values sharing their average rank. The result's
// order is the input's, its distribution normal whatever the input's.
std::vector<double> inverse_normal(const std::vector<double>& values);

// The number of values equal to the most frequent one: a gene with more
// than half its samples tied (mostly zeros, say) has no ranks to speak of.
std::size_t largest_tie(std::vector<double> values);
