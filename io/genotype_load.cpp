#include "io/genotype_load.hpp"

#include <cassert>
#include <cstddef>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "io/error.hpp"
#include "io/file_handle.hpp"
#include "io/globals.hpp"

void read_genotype(GenotypeMatrix& G, const char* path)
{
    const std::size_t snps = static_cast<std::size_t>(ps);
    const std::size_t samples = static_cast<std::size_t>(n);
    assert(G.size1() == samples && G.size2() == 2 * snps);

    // Up to 4*ps + 1 characters, the newline and the terminator. Zeroed, so
    // that a line shorter than the scan saw (a file changed since) leaves
    // zeros rather than garbage.
    std::vector<char> line;
    try {
        line.assign(4 * snps + 3, '\0');
    } catch (const std::bad_alloc&) {
        error("Error: Aborted due to allocation error.");
    } catch (const std::length_error&) {
        error("Error: Aborted due to allocation error.");
    }

    const FileHandle handle = open_file(path, "r");
    if (!handle)
        error("Error: Cannot open the genome file.");
    std::FILE* file = handle.get();

    // Rows the file no longer holds stay zero instead of undefined.
    G.clear();
    char* rows = G.data().begin();
    for (std::size_t s = 0; s < samples; ++s) {
        if (std::fgets(line.data(), static_cast<int>(line.size()), file) == nullptr) {
            if (std::ferror(file))
                error("Error: Aborted due to input error (genome data).");
            break;
        }
        // Columns 2k and 2k+1 take the characters at 4k and 4k+2; the
        // separators, a trailing extra character and the newline are skipped.
        char* row = rows + s * 2 * snps;
        for (std::size_t k = 0; k < snps; ++k) {
            row[2 * k] = line[4 * k];
            row[2 * k + 1] = line[4 * k + 2];
        }
    }
}
