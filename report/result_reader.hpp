#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

#include "files/checked_input.hpp"

// One line of a morv result file. The text fields point into the reader's
// line buffer: valid until the next call of next().
struct ResultRecord {
    unsigned long snp = 0, gene1 = 0, gene2 = 0;
    int flag = 0;
    std::string_view flag_text, mc, lda, it;  // as written
    double log10_mc = 0;
    double log10_it = 0;  // only when flag == 1: the other flags carry a placeholder
};

// Checks header line `number` (1 to 3) of a result file; throws ProgramError.
void check_header_line(int number, std::string_view text);

// Parses one result line (without its newline); throws ProgramError saying
// what is wrong, without the line number: not morv's format, gene 1 not
// below gene 2, a p-value above 1 (but for morv's stand-in 2 in the MC
// column).
ResultRecord parse_result_line(std::string_view text);

// The MC threshold as the header's second line gives it, rounded to six
// decimals, as bounds on its log10.
struct ThresholdBounds {
    double low = -HUGE_VAL, high = HUGE_VAL;  // log10 of the threshold lies within
};
ThresholdBounds threshold_bounds(std::string_view thresholdLine);

// A line's flag must agree with the threshold: a pair passed the MC test
// (flag 1 or 2) exactly when its p-value is below it. Throws ProgramError
// when the printed values rule that out.
void check_flag_against_threshold(const ResultRecord& record, const ThresholdBounds& bounds);

// Streams a result file, plain or gzip-compressed, in constant memory: the
// constructor checks the three header lines, next() yields each line in turn.
// Errors name the file and line number; a compressed file cut short or with
// anything after its end is an error, never a shorter file.
class ResultReader {
public:
    // `partial`: the file is known to be from a run that did not finish, so a
    // BGZF file may lack its end-of-file block.
    explicit ResultReader(const std::string& path, bool partial = false);

    bool next(ResultRecord& record);  // false after the last line
    unsigned long line_number() const { return line_number_; }
    const std::string& threshold_line() const { return threshold_line_; }

private:
    bool read_line();  // the next line into line_, false at the end
    [[noreturn]] void fail(const std::string& what) const;

    CheckedInput file_;
    std::string path_;
    std::string threshold_line_;
    ThresholdBounds bounds_;
    std::string line_;
    char buffer_[1 << 16];
    std::size_t pos_ = 0, end_ = 0;
    bool at_end_ = false;
    unsigned long line_number_ = 0;
};
