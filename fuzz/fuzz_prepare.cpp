// Fuzz target: morv-prepare's readers. The first input byte picks the reader
// (even: the expression table, then gene selection on every column with the
// scale the byte names; odd: the VCF reader on every sample); the rest is the
// file.
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string>

#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "prepare/expression_table.hpp"
#include "prepare/prepare_error.hpp"
#include "prepare/vcf_reader.hpp"

namespace {

std::vector<std::size_t> all_columns(std::size_t count)
{
    std::vector<std::size_t> columns(count);
    std::iota(columns.begin(), columns.end(), 0);
    return columns;
}

void expression(const std::string& text, Scale scale)
{
    const ExpressionTable table = parse_expression(text, "fuzz");
    for (const Gene& gene : table.genes)
        require(gene.values.size() == table.samples.size(), "every row as wide as the header");
    const KeptGenes kept = select_genes(table, all_columns(table.samples.size()), {}, scale);
    require(kept.rows.size() == kept.counts.kept && kept.values.size() == kept.rows.size(), "kept genes counted");
}

void vcf(const std::uint8_t* data, std::size_t size)
{
    VcfFile file(write_scratch("input.vcf", data, size));
    const Genotypes g = file.read(all_columns(file.samples().size()), SnpFilter{});
    require(g.classes.size() == g.snps.size() * file.samples().size(), "one class per kept call");
    for (const std::uint8_t c : g.classes)
        require(c <= 2, "a class is 0, 1 or 2");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    if (size == 0)
        return 0;
    try {
        if (data[0] % 2)
            vcf(data + 1, size - 1);
        else
            expression(std::string(reinterpret_cast<const char*>(data + 1), size - 1), static_cast<Scale>(data[0] / 2 % 4));
    } catch (const PrepareError&) {
        // Rejected: the program would have printed the message and stopped.
    }
    return 0;
}
