// Fuzz target: the dimension scan and the genotype load over one genotype
// file (the fuzz input). A file the scan accepts must load, and the matrix
// must hold exactly the characters at the allele positions of each line.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fatal_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "io/dimension_scan.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"
#include "io/matrices.hpp"
#include "io/nucleotide.hpp"

namespace {

// Start offsets of the lines of the input: after every newline, and the start.
std::vector<std::size_t> line_starts(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::size_t> starts;
    if (size > 0)
        starts.push_back(0);
    for (std::size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == '\n')
            starts.push_back(i + 1);
    }
    return starts;
}

void check_loaded(const GenotypeMatrix& G, const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::size_t> starts = line_starts(data, size);
    require(starts.size() == static_cast<std::size_t>(n), "one sample per line");
    const std::size_t snps = static_cast<std::size_t>(ps);
    for (std::size_t s = 0; s < starts.size(); ++s) {
        const std::uint8_t* line = data + starts[s];
        if (snps > 0)
            require(starts[s] + 4 * snps - 2 < size, "every allele position inside the file");
        for (std::size_t k = 0; k < snps; ++k) {
            require(G(s, 2 * k) == static_cast<char>(line[4 * k]), "first allele copied");
            require(G(s, 2 * k + 1) == static_cast<char>(line[4 * k + 2]), "second allele copied");
            require(is_nucleotide(G(s, 2 * k)) && is_nucleotide(G(s, 2 * k + 1)),
                    "only nucleotide letters loaded");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    const std::string genotype = write_scratch("genotype.txt", data, size);
    static const std::string expression = write_scratch("expression.txt", "1\n");
    try {
        get_parmeters(genotype.c_str(), expression.c_str());
        GenotypeMatrix G(static_cast<std::size_t>(n), 2 * static_cast<std::size_t>(ps));
        read_genotype(G, genotype.c_str());
        check_loaded(G, data, size);
    } catch (const FatalError&) {
        // Rejected: the program would have printed the message and stopped.
    }
    return 0;
}
