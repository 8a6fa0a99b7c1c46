#pragma once

#include <cstddef>

// Room that format_fixed6 may need: sign, 309 integer digits, point, six
// decimals, with a margin.
constexpr std::size_t fixed6_max_chars = 328;

// Writes the bytes that printf's "%f" writes for v in the C locale with the
// default rounding mode (the exact binary value rounded half to even at six
// decimals; "-0.000000", "inf", "-nan" and so on as the C library spells
// them), without a terminator, and returns the end of what it wrote. `out`
// must have room for fixed6_max_chars bytes.
char* format_fixed6(char* out, double v);
