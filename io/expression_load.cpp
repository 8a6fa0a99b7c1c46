#include "io/expression_load.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/error.hpp"
#include "io/expression_parse.hpp"
#include "io/file_handle.hpp"
#include "io/globals.hpp"

namespace {

// The quick way, straight into the table: the file is read in blocks, never
// held whole. When the text turns out not to be plain, the rest is still
// read, so the file is where a whole-file read leaves it for the fallback.
bool read_plain(std::FILE* file, ExpressionMatrix& E)
{
    PlainReader R;
    R.out = &E.data()[0];
    R.rows = E.size1();
    R.cols = E.size2();
    R.count = E.size1() * E.size2();
    char piece[1 << 16];
    bool plain = true;
    std::size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0)
        plain = plain && read_plain_piece(R, piece, got);
    return !std::ferror(file) && plain && finish_plain(R);
}

// fscanf "%lf" is the rule: what counts as a number, and where a bad token
// stops, is exactly its verdict. An ordinary file of plain numbers is read
// the quick way, with the same values; anything else is read again from the
// start by fscanf. Values come gene by gene; the table is sample-major.
void read_values(ExpressionMatrix& E, std::FILE* file)
{
    const std::size_t samples = E.size1();
    const std::uint64_t count = std::uint64_t(samples) * E.size2();
    if (count == 0)
        return;
    if (read_plain(file, E))
        return;
    std::rewind(file);
    for (std::uint64_t k = 0; k < count; ++k) {
        double value;
        const int converted = std::fscanf(file, "%lf", &value);
        if (converted == 0)
            error("Error: Invalid data in expressions");
        if (converted != 1)
            error("Error: Invalid format in expression data.");
        E(k % samples, k / samples) = value;
    }
    // Only white space may follow the last value.
    double extra = 0.0;
    if (std::fscanf(file, "%lf", &extra) != EOF)
        error("Error: Invalid format in expression data.");
}

}  // namespace

void read_expression(ExpressionMatrix& E, const char* path)
{
    assert(E.size1() == static_cast<std::size_t>(n) && E.size2() == static_cast<std::size_t>(ngene));
    const FileHandle file = open_file(path, "r");
    if (!file)
        error("Error: Cannot open the expression file.");
    read_values(E, file.get());
}
