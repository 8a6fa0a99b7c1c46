#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <zlib.h>

// One line of a morv result file. The text fields point into the reader's
// line buffer: valid until the next call of next().
struct ResultRecord {
    unsigned long snp = 0, gene1 = 0, gene2 = 0;
    int flag = 0;
    std::string_view flag_text, mc, lda, it;  // as written
    double log10_mc = 0;
    double log10_it = 0;  // only when flag == 1: the other flags carry a placeholder
};

// Checks header line `number` (1 to 3) of a result file; throws ReportError.
void check_header_line(int number, std::string_view text);

// Parses one result line (without its newline); throws ReportError saying
// what is wrong, without the line number.
ResultRecord parse_result_line(std::string_view text);

// Streams a result file, plain or gzip-compressed, in constant memory: the
// constructor checks the three header lines, next() yields each line in turn.
// Errors name the file and line number.
class ResultReader {
public:
    explicit ResultReader(const std::string& path);

    bool next(ResultRecord& record);  // false after the last line
    unsigned long line_number() const { return line_number_; }

private:
    bool read_line();  // the next line into line_, false at the end
    [[noreturn]] void fail(const std::string& what) const;

    // Owned from the start: a bad header throws from the constructor.
    struct Closer {
        void operator()(gzFile f) const { gzclose(f); }
    };
    std::unique_ptr<gzFile_s, Closer> file_;
    std::string path_;
    std::string line_;
    char buffer_[1 << 16];
    std::size_t pos_ = 0, end_ = 0;
    bool at_end_ = false;
    unsigned long line_number_ = 0;
};
