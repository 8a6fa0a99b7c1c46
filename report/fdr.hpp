#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "results/histogram.hpp"

// False-discovery control over a histogram file: the real scan's counts
// against the mean of its permutation scans, per statistic, at the
// histogram's resolution. A cut-off at bin b calls a pair a discovery when
// its -log10 p falls in bin b or above, i.e. its printed log10 p is at most
// -b/100.

// The statistic of a scan: &HistogramScan::mc or &HistogramScan::it.
using Statistic = StatCounts HistogramScan::*;

struct FdrCurve {
    std::vector<std::uint64_t> real;  // R(b): the real scan's pairs in bins b and above
    std::vector<double> null;         // V(b): the same, averaged over the permutation scans
    std::vector<double> q;            // min of V/R over the cut-offs b' <= b, at most 1; NaN before any
};

// Throws ProgramError (naming `path`) when the histogram cannot serve for
// false-discovery control: no permutation scans, or a permutation scan over
// other pairs than the real one.
void check_permutation_scans(const Histogram& h, const std::string& path);

FdrCurve fdr_curve(const Histogram& h, Statistic s);

// V(b) / R(b): the estimated share of false discoveries at cut-off b.
double fdr_at(const FdrCurve& c, unsigned b);

struct Cutoff {
    bool found = false;
    unsigned bin = 0;
    std::uint64_t discoveries = 0;
};

// The least strict cut-off whose q is at most `q`.
Cutoff permutation_cutoff(const FdrCurve& c, double q);

// Benjamini-Hochberg over `m` tests with the real counts R(b) of a curve,
// every p-value rounded up to its bin's edge 10^(-b/100): the least strict
// cut-off b with 10^(-b/100) <= R(b) q / m.
Cutoff bh_cutoff(const std::vector<std::uint64_t>& real, std::uint64_t m, double q);

// morv-fdr's table on standard output, and its --curve file; `qText` is
// --q as given.
std::string fdr_table(const Histogram& h, double q, const std::string& qText);
std::string fdr_curve_text(const Histogram& h);

// A q-value, FDR or mean count as morv-fdr and morv-annotate print it
// ("%.6g"), "NA" for none (NaN).
std::string q_text(double v);

// Whether the real scan counted a pair in bin b: a result row in a bin it
// did not count was not scanned with this histogram.
bool real_count_in(const FdrCurve& c, unsigned b);
