#include "prepare/normalise.hpp"

#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <numeric>

std::vector<double> inverse_normal(const std::vector<double>& values)
{
    const std::size_t n = values.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    const boost::math::normal_distribution<double> normal;
    std::vector<double> out(n);
    for (std::size_t first = 0; first < n;) {
        std::size_t last = first + 1;
        while (last < n && values[order[last]] == values[order[first]])
            ++last;
        // Ranks count from 1; a run of ties [first, last) shares their mean.
        const double rank = (static_cast<double>(first + 1) + static_cast<double>(last)) / 2;
        const double z = quantile(normal, (rank - 0.375) / (static_cast<double>(n) + 0.25));
        for (std::size_t k = first; k < last; ++k)
            out[order[k]] = z;
        first = last;
    }
    return out;
}

std::size_t largest_tie(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t best = 0;
    for (std::size_t first = 0; first < values.size();) {
        std::size_t last = first + 1;
        while (last < values.size() && values[last] == values[first])
            ++last;
        best = std::max(best, last - first);
        first = last;
    }
    return best;
}
