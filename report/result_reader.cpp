#include "report/result_reader.hpp"

#include <cstdlib>
#include <cstring>

#include "files/file_error.hpp"
#include "files/program_error.hpp"

namespace {

// morv's lines are short; a longer one is not a result line, and the cap
// keeps memory bounded whatever the input.
constexpr std::size_t kMaxLine = 4096;
constexpr unsigned long kMaxIndex = 2147483647;  // morv prints indices with %d
const std::string_view kDegenerateMc = "0.301030";   // log10 2

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A value printed with "%f": [-]digits.dddddd, or [-]inf / [-]nan.
bool is_fixed(std::string_view s)
{
    if (!s.empty() && s[0] == '-')
        s.remove_prefix(1);
    if (s == "inf" || s == "nan")
        return true;
    const std::size_t dot = s.find('.');
    if (dot == 0 || dot == std::string_view::npos || s.size() - dot - 1 != 6)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i != dot && !is_digit(s[i]))
            return false;
    return true;
}

double value_of(std::string_view s)
{
    const std::string text(s);
    return std::strtod(text.c_str(), nullptr);
}

unsigned long index_of(std::string_view s, const char* what)
{
    const bool digits = !s.empty() && s.size() <= 10 && (s[0] != '0' || s.size() == 1);
    unsigned long v = 0;
    for (char c : s) {
        if (!digits || !is_digit(c))
            throw ProgramError(std::string(what) + " index '" + std::string(s) + "' is not a non-negative integer");
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    if (!digits || v > kMaxIndex)
        throw ProgramError(std::string(what) + " index '" + std::string(s) + "' is not a non-negative integer");
    return v;
}

// LDA and IT columns: "%f", or "1.0" where the cascade stopped earlier.
void check_value(std::string_view s, bool placeholder, const char* column)
{
    if (placeholder ? s != "1.0" : !is_fixed(s))
        throw ProgramError(std::string(column) + " value '" + std::string(s) + "' is not " +
                          (placeholder ? "the placeholder 1.0 this flag needs" : "a number as morv prints it"));
}

}  // namespace

void check_header_line(int number, std::string_view text)
{
    static const char* const kColumns =
        "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t p-value(IT)";
    bool ok = false;
    if (number == 1)
        ok = text == "Results of MORV:";
    else if (number == 2)
        for (std::string_view prefix : {"threshold = ", "log10(threshold) = "})
            ok = ok || (text.substr(0, prefix.size()) == prefix && is_fixed(text.substr(prefix.size())));
    else
        ok = text == kColumns;
    if (!ok)
        throw ProgramError("not a morv result header line");
}

ResultRecord parse_result_line(std::string_view text)
{
    std::string_view field[7];
    std::size_t count = 0, start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        if (count < 7)
            field[count] = text.substr(start, tab == std::string_view::npos ? tab : tab - start);
        ++count;
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (count != 7)
        throw ProgramError("expected 7 tab-separated fields, found " + std::to_string(count));
    ResultRecord r;
    r.snp = index_of(field[0], "SNP");
    r.gene1 = index_of(field[1], "gene 1");
    r.gene2 = index_of(field[2], "gene 2");
    r.flag_text = field[3];
    if (field[3] != "0" && field[3] != "1" && field[3] != "2")
        throw ProgramError("flag '" + std::string(field[3]) + "' is not 0, 1 or 2");
    r.flag = field[3][0] - '0';
    if (!is_fixed(field[4]))
        throw ProgramError("MC value '" + std::string(field[4]) + "' is not a number as morv prints it");
    check_value(field[5], r.flag == 0, "LDA");
    check_value(field[6], r.flag != 1, "IT");
    if (r.gene1 >= r.gene2)
        throw ProgramError("gene 1 index " + std::to_string(r.gene1) + " is not below gene 2 index " +
                          std::to_string(r.gene2));
    r.mc = field[4];
    r.lda = field[5];
    r.it = field[6];
    r.log10_mc = value_of(r.mc);
    r.log10_it = r.flag == 1 ? value_of(r.it) : 0.0;
    // log10 of a p-value is at most 0; the MC test's stand-in 2 (a degenerate
    // class covariance) is the one value above.
    if (r.log10_mc > 0 && r.mc != kDegenerateMc)
        throw ProgramError("MC value '" + std::string(r.mc) + "' is the log10 of a p-value above 1");
    if (r.log10_it > 0)
        throw ProgramError("IT value '" + std::string(r.it) + "' is the log10 of a p-value above 1");
    return r;
}

ThresholdBounds threshold_bounds(std::string_view line)
{
    // Six decimals are printed: the value lies within half a unit of the last.
    constexpr double kHalf = 0.5e-6;
    ThresholdBounds b;
    const std::string_view logged = "log10(threshold) = ", plain = "threshold = ";
    if (line.substr(0, logged.size()) == logged) {
        const double l = value_of(line.substr(logged.size()));
        b.low = l - kHalf;
        b.high = l + kHalf;
    } else if (line.substr(0, plain.size()) == plain) {
        const double t = value_of(line.substr(plain.size()));
        b.low = t - kHalf > 0 ? std::log10(t - kHalf) : -HUGE_VAL;
        b.high = t + kHalf > 0 ? std::log10(t + kHalf) : -HUGE_VAL;
    }
    return b;
}

void check_flag_against_threshold(const ResultRecord& r, const ThresholdBounds& b)
{
    constexpr double kHalf = 0.5e-6;  // of the printed log10 p
    const bool passed = r.flag != 0;
    if (passed && r.log10_mc - kHalf >= b.high)
        throw ProgramError("flag " + std::string(r.flag_text) + " says the pair passed the MC test, but its MC value " +
                          std::string(r.mc) + " is not below the threshold of the header");
    if (!passed && r.log10_mc + kHalf < b.low)
        throw ProgramError("flag 0 says the MC test stopped the pair, but its MC value " + std::string(r.mc) +
                          " is below the threshold of the header");
}

ResultReader::ResultReader(const std::string& path, bool partial) try : file_(path, !partial), path_(path)
{
    for (int number = 1; number <= 3; ++number) {
        if (!read_line())
            fail("the file ends before its three header lines");
        try {
            check_header_line(number, line_);
        } catch (const ProgramError& e) {
            fail(e.what());
        }
        if (number == 2) {
            threshold_line_ = line_;
            bounds_ = threshold_bounds(line_);
        }
    }
} catch (const FileError& e) {
    throw ProgramError(e.what());
}

void ResultReader::fail(const std::string& what) const
{
    throw ProgramError(path_ + " line " + std::to_string(line_number_) + ": " + what);
}

bool ResultReader::read_line()
{
    line_.clear();
    for (;;) {
        if (pos_ == end_) {
            if (at_end_)
                break;
            std::size_t got = 0;
            try {
                got = file_.read(buffer_, sizeof buffer_);
            } catch (const FileError& e) {
                throw ProgramError(e.what());
            }
            pos_ = 0;
            end_ = got;
            at_end_ = got == 0;
            continue;
        }
        const char* from = buffer_ + pos_;
        const void* nl = std::memchr(from, '\n', end_ - pos_);
        const std::size_t take = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - from) : end_ - pos_;
        line_.append(from, take);
        pos_ += take + (nl ? 1 : 0);
        if (line_.size() > kMaxLine) {
            ++line_number_;
            fail("line longer than " + std::to_string(kMaxLine) + " characters");
        }
        if (nl) {
            ++line_number_;
            return true;
        }
    }
    if (line_.empty())
        return false;
    ++line_number_;
    fail("the last line has no newline: the file is cut short");
}

bool ResultReader::next(ResultRecord& record)
{
    if (!read_line())
        return false;
    try {
        record = parse_result_line(line_);
        check_flag_against_threshold(record, bounds_);
    } catch (const ProgramError& e) {
        fail(e.what());
    }
    return true;
}
