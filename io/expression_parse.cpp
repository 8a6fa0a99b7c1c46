#include "io/expression_parse.hpp"

#include <charconv>
#include <system_error>

namespace {

// White space as the C library's isspace sees it in the C locale.
inline bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_plain(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The end of the token starting at p (the first space, or end); nullptr when
// it holds a character no plain number has.
const char* token_end(const char* p, const char* end)
{
    for (; p < end && !is_space(*p); ++p)
        if (!is_plain(*p))
            return nullptr;
    return p;
}

// One whole token [first, last) as the next value.
bool take_token(PlainReader& R, const char* first, const char* last)
{
    if (R.found == R.count)
        return false;
    // from_chars takes no plus sign; the value is the same without it.
    if (*first == '+') {
        ++first;
        if (first == last || *first == '-' || *first == '+')
            return false;
    }
    double v;
    const std::from_chars_result r = std::from_chars(first, last, v);
    if (r.ec != std::errc() || r.ptr != last)
        return false;
    R.out[R.row * R.cols + R.col] = v;
    ++R.found;
    if (++R.row == R.rows) {
        R.row = 0;
        ++R.col;
    }
    return true;
}

// The token the last piece ended in, now whole, as the next value.
bool take_cut(PlainReader& R)
{
    const bool ok = take_token(R, R.cut.data(), R.cut.data() + R.cut.size());
    R.cut.clear();
    return ok;
}

}  // namespace

bool read_plain_piece(PlainReader& R, const char* data, std::size_t size)
{
    const char* p = data;
    const char* const end = data + size;
    if (!R.cut.empty()) {
        const char* rest = token_end(p, end);
        if (!rest)
            return false;
        R.cut.append(p, rest);
        if (rest == end)
            return true;
        if (!take_cut(R))
            return false;
        p = rest;
    }
    for (;;) {
        while (p < end && is_space(*p))
            ++p;
        if (p == end)
            return true;
        const char* token = p;
        p = token_end(token, end);
        if (!p)
            return false;
        if (p == end) {
            // The next piece may go on with this token.
            R.cut.assign(token, p);
            return true;
        }
        if (!take_token(R, token, p))
            return false;
    }
}

bool finish_plain(PlainReader& R)
{
    if (!R.cut.empty() && !take_cut(R))
        return false;
    return R.found == R.count;
}

bool parse_plain_values(const char* data, std::size_t size, double* values, std::size_t count)
{
    PlainReader R;
    R.out = values;
    R.count = count;
    return read_plain_piece(R, data, size) && finish_plain(R);
}
