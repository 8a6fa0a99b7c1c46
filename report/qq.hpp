#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "results/histogram.hpp"

// The p-values of one series, binned by -log10 p in constant memory. The
// bins are fine (2e-6) where a median can lie for any sensible inflation,
// since the precision lambda needs is relative in p, and coarser (1e-3)
// beyond; the last bin holds p-values that underflowed to 0.
struct PSeries {
    std::vector<std::uint64_t> bins;
    std::uint64_t tested = 0, left_out = 0;
    unsigned per_unit = 0;  // 0: the bins above; else a histogram's, per_unit to a unit of -log10 p
};
PSeries make_series();

// A histogram statistic's counts as a series: every binned value is tested
// (a histogram cannot tell a p of 1, or the MC test's 2, from the rest of
// bin 0); not-a-number values and tests never run are left out. Its last
// bin, -log10 p of 300 and beyond, stands for p-values of 0.
PSeries series_of(const StatCounts& c);

// Adds one logged p-value as morv wrote it. A p-value of 1 or more ("0.000000",
// "0.301030") is not testable: counted as left out. "-0.000000" is a p-value
// just below 1 and counts as tested.
void add_log10_p(PSeries& series, double log10_p);

// The median p of the tested values, interpolated within its bin.
double median_p(const PSeries& series);

// Genomic inflation: the 1-df chi-squared quantile of the median p over the
// distribution's median. NaN when nothing was tested.
double lambda_of(const PSeries& series);
double lambda_of_median_p(double p);

// Points of the QQ plot: one per non-empty bin, at the bin's middle rank,
// thinned so that consecutive points differ by at least 1/max_points of the
// plot's extent on one axis. P-values of 0 are drawn at the top.
struct QQPoint {
    double expected, observed;  // -log10 p
};
std::vector<QQPoint> qq_points(const PSeries& series, std::size_t max_points);

// The MC column of every line and the IT column of the lines with flag 1,
// with what the plot's title says of the file.
struct QQSeries {
    PSeries mc, it;
    std::string threshold_line;  // the header's second line
    std::uint64_t lines = 0, pruned_by_mc = 0;  // result lines, of them flag 0
};
QQSeries read_qq_series(const std::string& results, bool partial = false);
