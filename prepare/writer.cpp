#include "prepare/writer.hpp"

const std::vector<std::string> kOutputNames = {"genotype.txt", "expression.txt", "allele.txt", "snps.tsv",
                                               "genes.tsv", "samples.tsv", "manifest.json"};

void write_outputs(OutputSet& out, const SampleMatch& samples, const Genotypes& g, const ExpressionTable& table,
                   const KeptGenes& genes)
{
    const std::size_t n = samples.vcf_columns.size(), snps = g.snps.size();
    out.write("genotype.txt", [&](const auto& put) {
        std::string line;
        for (std::size_t s = 0; s < n; ++s) {
            line.clear();
            for (std::size_t j = 0; j < snps; ++j) {
                const unsigned c = g.classes[j * n + s];  // ALT alleles: the first allele is ALT only in 1/1
                line += c == 2 ? g.snps[j].alt : g.snps[j].ref;
                line += '\t';
                line += c == 0 ? g.snps[j].ref : g.snps[j].alt;
                line += '\t';
            }
            put(line + "\n");
        }
    });
    out.write("expression.txt", [&](const auto& put) {
        for (const auto& values : genes.values) {
            std::string line;
            for (std::size_t k = 0; k < values.size(); ++k)
                line += (k ? "\t" : "") + values[k];
            put(line + "\n");
        }
    });
    out.write("allele.txt", [&](const auto& put) {
        for (const Snp& snp : g.snps)
            put(std::string(1, snp.ref) + "\n");
    });
    out.write("snps.tsv", [&](const auto& put) {
        put("index\tid\tchrom\tpos\tref\talt\n");
        for (std::size_t j = 0; j < snps; ++j) {
            const Snp& s = g.snps[j];
            put(std::to_string(j) + "\t" + s.id + "\t" + s.chrom + "\t" + std::to_string(s.pos) + "\t" + s.ref + "\t" +
                s.alt + "\n");
        }
    });
    out.write("genes.tsv", [&](const auto& put) {
        put("index\tid\tchrom\tstart\tend\n");
        for (std::size_t k = 0; k < genes.rows.size(); ++k) {
            const Gene& gene = table.genes[genes.rows[k]];
            put(std::to_string(k) + "\t" + gene.id + "\t" + gene.chrom + "\t" + gene.start + "\t" + gene.end + "\n");
        }
    });
    out.write("samples.tsv", [&](const auto& put) {
        put("index\tgenotype_id\texpression_id\n");
        for (std::size_t s = 0; s < n; ++s)
            put(std::to_string(s) + "\t" + samples.genotype_ids[s] + "\t" + samples.expression_ids[s] + "\n");
    });
}
