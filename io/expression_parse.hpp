#pragma once

#include <cstddef>
#include <string>

// The quick way through an ordinary expression file: `count` plain decimal
// numbers separated by white space and nothing else. A token counts as plain
// when it holds only digits, signs, a point and an exponent letter and
// std::from_chars (correctly rounded, as strtod is) takes the whole of it;
// for such tokens the value is the one fscanf's "%lf" gives. The reader
// gives up as soon as anything else turns up (another token form, a token
// out of range, too few or too many values): the caller then reads the file
// with fscanf, which alone decides what is wrong with it.
//
// The text comes in pieces, as a file is read in blocks, so that no copy of
// the whole file is held; a token may be cut anywhere between two pieces.
// Value k goes to out[(k % rows) * cols + k / rows]: the file lists gene by
// gene, the table holds sample by sample. rows = 1 keeps the text's order.
struct PlainReader {
    double* out = nullptr;
    std::size_t rows = 1, cols = 0, count = 0;
    std::size_t found = 0, row = 0, col = 0;
    std::string cut;  // a token the last piece ended in the middle of
};

// The next piece of the text; false as soon as the text is not plain.
bool read_plain_piece(PlainReader& R, const char* data, std::size_t size);
// The end of the text: true when it was plain and held exactly `count`.
bool finish_plain(PlainReader& R);

// A whole text at once, values in text order.
bool parse_plain_values(const char* data, std::size_t size, double* values, std::size_t count);
