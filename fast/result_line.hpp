#pragma once

#include <charconv>
#include <cstddef>
#include <cstring>

// Text of the fast scan's result lines, written straight into the output
// buffer: the same bytes the C library's printf formats would give. The
// small pieces are inline: they run once or more per pair.

// Longest line the scan ever formats, with ample margin ("%f" of a huge LDA
// value has hundreds of digits).
constexpr std::size_t kMaxResultLine = 1024;

// Bytes of a usual result line ("i\tg1\tg2\tflag\t" and three numbers).
constexpr std::size_t kTypicalResultLine = 32;

// Decimal digits of v; returns the end.
inline char* put_uint(char* p, unsigned long long v)
{
    return std::to_chars(p, p + 24, v).ptr;
}

// Copies len bytes of text; returns the end.
inline char* put_text(char* p, const char* text, std::size_t len)
{
    std::memcpy(p, text, len);
    return p + len;
}

// "00" .. "99": two digits per table read.
inline constexpr char kTwoDigits[100][2] = {
#define MORV_DIGITS(t) {t, '0'}, {t, '1'}, {t, '2'}, {t, '3'}, {t, '4'}, {t, '5'}, {t, '6'}, {t, '7'}, {t, '8'}, {t, '9'}
    MORV_DIGITS('0'), MORV_DIGITS('1'), MORV_DIGITS('2'), MORV_DIGITS('3'), MORV_DIGITS('4'),
    MORV_DIGITS('5'), MORV_DIGITS('6'), MORV_DIGITS('7'), MORV_DIGITS('8'), MORV_DIGITS('9'),
#undef MORV_DIGITS
};

// "-" and round(|v| * 1e6) as "%f" prints a negative v whose six-decimal
// rounding is micro (micro < 0): integer part, point, six digits.
inline char* put_negative_micro(char* p, long long micro)
{
    const unsigned long long m = static_cast<unsigned long long>(-micro);
    *p++ = '-';
    p = put_uint(p, m / 1000000);
    *p++ = '.';
    const unsigned frac = static_cast<unsigned>(m % 1000000);
    std::memcpy(p, kTwoDigits[frac / 10000], 2);
    std::memcpy(p + 2, kTwoDigits[frac / 100 % 100], 2);
    std::memcpy(p + 4, kTwoDigits[frac % 100], 2);
    return p + 6;
}

// A result line: the row's prefix "i\tg1\t", then g2, the flag and the values
// in the format of the flag ("%f" fields, "1.0" placeholders), and "\n".
char* format_line(char* p, const char* prefix, std::size_t prefixLen, std::size_t g2, int flag,
                  double pMc, double lda, double pIt);

// A gene index as text with its tab, ready to copy into a line.
struct GeneText {
    char text[16];
    std::size_t length;
};
