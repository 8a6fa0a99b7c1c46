#pragma once

#include <cstdint>
#include <string>

// Flags of a result line: how far the pair got through the cascade.
enum ResultFlag : int {
    kPrunedByMc = 0,   // the MC p-value did not pass the threshold
    kAllComputed = 1,  // MC, LDA and interaction test all computed
    kPrunedByLda = 2,  // passed the MC test, stopped by the LDA cut-off
};

// The LDA cut-off: -0.5 times the upper 1e-10 quantile of chi-squared(2),
// that is ln(1e-10).
double lda_cutoff();

// The three header lines: title, threshold line, column names.
std::string result_header(double threshold);

// Creates (truncates) the result file and writes its three header lines;
// block-gzipped as a block of their own when asked.
void write_result_header(const std::string& path, double threshold, bool bgzip = false);

// Appends one result line the plain way: open, write, close. The file on
// disk then holds every line so far after each pair.
void append_result_line(const std::string& path, unsigned snp, unsigned g1, unsigned g2,
                        int flag, double pMc, double lda, double pIt);

// A failed write to the result file must never end in a success report.
[[noreturn]] void output_write_failed();
[[noreturn]] void output_open_failed();
