#pragma once

#include <cstdint>
#include <string>

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
