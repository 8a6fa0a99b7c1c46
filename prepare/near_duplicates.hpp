#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Gene pairs whose values, as morv reads them (log10), are almost the same
// up to scale and shift: their joint covariance is near singular, and the
// MC test then fires at any SNP. Users want to know before they scan.
struct NearDuplicates {
    std::size_t pairs = 0;                                 // with |r| above the bound
    std::vector<std::pair<std::size_t, std::size_t>> first;  // the first few, in (gene 1, gene 2) order
    std::vector<double> r;                                 // their correlations
};

// `values`: per gene, the tokens written for morv.
NearDuplicates near_duplicates(const std::vector<std::vector<std::string>>& values, double bound = 0.99,
                               std::size_t keep = 3);
