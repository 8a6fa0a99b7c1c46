#include "io/dimension_scan.hpp"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

#include "io/error.hpp"
#include "io/file_handle.hpp"
#include "io/globals.hpp"
#include "io/line_buffer.hpp"
#include "io/nucleotide.hpp"

namespace {

// Room for a first line of 4,000,000 characters, its newline and the
// terminator; a longer first line fills the buffer without a newline.
constexpr std::size_t kGenotypeBufferSize = 4000002;

// Neighbour test of the first line, then its length L (the newline's
// position). `length` counts what the read took, newline included.
std::size_t measure_first_line(const LineBuffer& buffer, std::size_t length)
{
    const char* line = buffer.data.get();
    const bool newline = ends_with_newline(buffer, length);
    const std::size_t end = newline ? length - 1 : length;
    // line[end] is the newline or the terminator, so line[i + 1] stays inside
    // the read, and a character never equals the newline after it.
    for (std::size_t i = 0; i < end; ++i) {
        if (line[i + 1] == line[i])
            error("Error: Invalid format in genome data.");
    }
    if (newline)
        return end;
    if (length + 1 == kGenotypeBufferSize)
        error("Error: Absorted due to input error (genome data).");
    // A first line that ends the file without a newline cannot be measured.
    error("Error: Invalid format in genome data.");
}

// Length and allele tests that every genotype line, the first included, passes.
void check_genotype_line(const LineBuffer& buffer, std::size_t length, bool at_end_of_file,
                         std::size_t firstLength)
{
    const char* line = buffer.data.get();
    if (!at_end_of_file) {
        if (!ends_with_newline(buffer, length) || length - 1 != firstLength)
            error("Error: Invalid format in genome data");
    } else if (length < firstLength) {
        // A short last line would leave allele positions without characters.
        error("Error: Invalid data or format in genome data");
    }
    // From here every allele position lies inside the read: the newline
    // itself stands at firstLength >= 4*ps - 2.
    const std::size_t alleles = 2 * static_cast<std::size_t>(ps);
    for (std::size_t a = 0; a < alleles; ++a) {
        if (!is_nucleotide(line[2 * a]))
            error("Error: Invalid data or format in genome data");
    }
}

void scan_genotype_file(const char* path)
{
    ps = 0;
    n = 0;
    const FileHandle handle = open_file(path, "r");
    if (!handle)
        error("Error: Cannot open the genome file.");
    std::FILE* file = handle.get();
    LineBuffer buffer;
    try {
        allocate_line_buffer(buffer, kGenotypeBufferSize);
    } catch (const std::bad_alloc&) {
        error("Error: Absorted due to allocation error.");
    }

    std::size_t firstLength = 0;
    std::size_t length = 0;
    while (read_line(buffer, file, length)) {
        if (n == INT_MAX)
            error("Error: Aborted due to input error (genome data).");
        ++n;
        if (n == 1) {
            firstLength = measure_first_line(buffer, length);
            ps = static_cast<int>((firstLength + 2) / 4);
        }
        const bool atEndOfFile = !ends_with_newline(buffer, length) && std::feof(file);
        check_genotype_line(buffer, length, atEndOfFile, firstLength);
    }
    if (std::ferror(file))
        error("Error: Aborted due to input error (genome data).");
}

void scan_expression_file(const char* path)
{
    ngene = 0;
    const FileHandle handle = open_file(path, "r");
    if (!handle)
        error("Error: Cannot open the expression file.");
    std::FILE* file = handle.get();
    // On average 31 characters per value, separator included; in 64 bits,
    // since 31*n overflows an int for large n.
    const std::size_t size = 31 * static_cast<std::uint64_t>(n) + 2;
    LineBuffer buffer;
    try {
        allocate_line_buffer(buffer, size);
    } catch (const std::bad_alloc&) {
        error("Error: Aborted due to allocation error.");
    }

    // Every read counts as a gene: an over-long line counts as several.
    std::size_t length = 0;
    while (read_line(buffer, file, length)) {
        if (ngene == INT_MAX)
            error("Error: Aborted due to input error (expression data).");
        ++ngene;
    }
    if (std::ferror(file))
        error("Error: Aborted due to input error (expression data).");
}

}  // namespace

void get_parmeters(const char* genotypePath, const char* expressionPath)
{
    // The genotype file is checked whole before the expression file is opened.
    scan_genotype_file(genotypePath);
    scan_expression_file(expressionPath);
}
