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

}  // namespace

bool parse_plain_values(const char* data, std::size_t size, double* values, std::size_t count)
{
    const char* p = data;
    const char* const end = data + size;
    std::size_t found = 0;
    while (true) {
        while (p < end && is_space(*p))
            ++p;
        if (p == end)
            break;
        const char* token = p;
        while (p < end && !is_space(*p)) {
            if (!is_plain(*p))
                return false;
            ++p;
        }
        if (found == count)
            return false;
        // from_chars takes no plus sign; the value is the same without it.
        const char* first = token;
        if (*first == '+') {
            ++first;
            if (first == p || *first == '-' || *first == '+')
                return false;
        }
        double v;
        const std::from_chars_result r = std::from_chars(first, p, v);
        if (r.ec != std::errc() || r.ptr != p)
            return false;
        values[found++] = v;
    }
    return found == count;
}
