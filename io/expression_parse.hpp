#pragma once

#include <cstddef>

// The quick way through an ordinary expression file: `count` plain decimal
// numbers separated by white space and nothing else. A token counts as plain
// when it holds only digits, signs, a point and an exponent letter and
// std::from_chars (correctly rounded, as strtod is) takes the whole of it;
// for such tokens the value is the one fscanf's "%lf" gives. Returns false
// as soon as anything else turns up (another token form, a token out of
// range, too few or too many values): the caller then reads the file with
// fscanf, which alone decides what is wrong with it.
bool parse_plain_values(const char* data, std::size_t size, double* values, std::size_t count);
