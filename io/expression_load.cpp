#include "io/expression_load.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

#include "io/error.hpp"
#include "io/expression_parse.hpp"
#include "io/file_handle.hpp"
#include "io/globals.hpp"

namespace {

// The whole file, for the quick reader; false if it cannot be read whole.
bool slurp(std::FILE* file, std::vector<char>& text)
{
    // Sized once for a regular file, not grown by copying it again and again.
    struct stat st;
    if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        text.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.insert(text.end(), chunk, chunk + got);
    return !std::ferror(file);
}

// The values in file order (gene-major). fscanf "%lf" is the rule: what
// counts as a number, and where a bad token stops, is exactly its verdict.
// An ordinary file of plain numbers is read the quick way, with the same
// values; anything else is read again from the start by fscanf.
void read_values(std::vector<double>& values, std::FILE* file)
{
    if (values.empty())
        return;
    std::vector<char> text;
    if (slurp(file, text) && parse_plain_values(text.data(), text.size(), values.data(), values.size()))
        return;
    std::rewind(file);
    for (double& value : values) {
        const int converted = std::fscanf(file, "%lf", &value);
        if (converted == 0)
            error("Error: Invalid data in expressions");
        if (converted != 1)
            error("Error: Invalid format in expression data.");
    }
    // Only white space may follow the last value.
    double extra = 0.0;
    if (std::fscanf(file, "%lf", &extra) != EOF)
        error("Error: Invalid format in expression data.");
}

}  // namespace

void read_expression(ExpressionMatrix& E, const char* path)
{
    const std::size_t genes = static_cast<std::size_t>(ngene);
    const std::size_t samples = static_cast<std::size_t>(n);

    // 64-bit count: ngene*n may well exceed an int.
    const std::uint64_t count = static_cast<std::uint64_t>(genes) * samples;
    std::vector<double> values;
    try {
        values.resize(count);
    } catch (const std::bad_alloc&) {
        error("Error: Aborted due to allocation error.");
    } catch (const std::length_error&) {
        error("Error: Aborted due to allocation error.");
    }

    {
        const FileHandle file = open_file(path, "r");
        if (!file)
            error("Error: Cannot open the expression file.");
        read_values(values, file.get());
    }

    // The file is gene-major, the matrix sample-major.
    assert(E.size1() == samples && E.size2() == genes);
    for (std::size_t g = 0; g < genes; ++g) {
        for (std::size_t s = 0; s < samples; ++s)
            E(s, g) = values[g * samples + s];
    }
}
