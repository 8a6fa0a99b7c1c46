// Fuzz target: the expression scan and load. The first input byte picks the
// number of samples (0 to 8, through a generated genotype file); the rest is
// the expression file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fatal_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/globals.hpp"
#include "io/matrices.hpp"

namespace {

constexpr unsigned kMaxSamples = 8;

std::string genotype_of(unsigned samples)
{
    std::string text;
    for (unsigned s = 0; s < samples; ++s)
        text += "A\tC\t\n";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    if (size == 0)
        return 0;
    const unsigned samples = data[0] % (kMaxSamples + 1);
    const std::string genotype = write_scratch("genotype.txt", genotype_of(samples));
    const std::string expression = write_scratch("expression.txt", data + 1, size - 1);
    try {
        get_parmeters(genotype.c_str(), expression.c_str());
        require(n == static_cast<int>(samples), "generated genotype file measured");
        ExpressionMatrix E(static_cast<std::size_t>(n), static_cast<std::size_t>(ngene));
        read_expression(E, expression.c_str());
    } catch (const FatalError&) {
        // Rejected: the program would have printed the message and stopped.
    }
    return 0;
}
