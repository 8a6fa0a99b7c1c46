#include "prepare/writer.hpp"

#include <cstdio>
#include <filesystem>
#include <functional>

#include "prepare/prepare_error.hpp"

namespace {

const char* const kNames[] = {"genotype.txt", "expression.txt", "allele.txt", "snps.tsv", "genes.tsv", "samples.tsv"};

std::string temporary(const std::string& dir, const std::string& name)
{
    return dir + "/." + name + ".tmp";
}

// Opens the temporary file, lets `fill` write through `put`, checks every write.
void write_file(const std::string& dir, const std::string& name, const std::function<void(const std::function<void(const std::string&)>&)>& fill)
{
    const std::string path = temporary(dir, name);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        throw PrepareError("cannot write " + path);
    bool ok = true;
    fill([&](const std::string& text) { ok = ok && std::fwrite(text.data(), 1, text.size(), file) == text.size(); });
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        throw PrepareError("cannot write " + path);
}

void remove_temporaries(const std::string& dir)
{
    for (const char* name : kNames)
        std::remove(temporary(dir, name).c_str());
}

void write_all(const std::string& dir, const SampleMatch& samples, const Genotypes& g, const ExpressionTable& table,
               const KeptGenes& genes)
{
    const std::size_t n = samples.vcf_columns.size(), snps = g.snps.size();
    write_file(dir, "genotype.txt", [&](const auto& put) {
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
    write_file(dir, "expression.txt", [&](const auto& put) {
        for (const auto& values : genes.values) {
            std::string line;
            for (std::size_t k = 0; k < values.size(); ++k)
                line += (k ? "\t" : "") + values[k];
            put(line + "\n");
        }
    });
    write_file(dir, "allele.txt", [&](const auto& put) {
        for (const Snp& snp : g.snps)
            put(std::string(1, snp.ref) + "\n");
    });
    write_file(dir, "snps.tsv", [&](const auto& put) {
        put("index\tid\tchrom\tpos\tref\talt\n");
        for (std::size_t j = 0; j < snps; ++j) {
            const Snp& s = g.snps[j];
            put(std::to_string(j) + "\t" + s.id + "\t" + s.chrom + "\t" + std::to_string(s.pos) + "\t" + s.ref + "\t" +
                s.alt + "\n");
        }
    });
    write_file(dir, "genes.tsv", [&](const auto& put) {
        put("index\tid\tchrom\tstart\tend\n");
        for (std::size_t k = 0; k < genes.rows.size(); ++k) {
            const Gene& gene = table.genes[genes.rows[k]];
            put(std::to_string(k) + "\t" + gene.id + "\t" + gene.chrom + "\t" + gene.start + "\t" + gene.end + "\n");
        }
    });
    write_file(dir, "samples.tsv", [&](const auto& put) {
        put("index\tgenotype_id\texpression_id\n");
        for (std::size_t s = 0; s < n; ++s)
            put(std::to_string(s) + "\t" + samples.genotype_ids[s] + "\t" + samples.expression_ids[s] + "\n");
    });
    for (const char* name : kNames)
        if (std::rename(temporary(dir, name).c_str(), (dir + "/" + name).c_str()) != 0)
            throw PrepareError("cannot write " + dir + "/" + name);
}

}  // namespace

void write_outputs(const std::string& dir, const SampleMatch& samples, const Genotypes& genotypes,
                   const ExpressionTable& table, const KeptGenes& genes)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir))
        throw PrepareError("cannot create the output folder " + dir);
    try {
        write_all(dir, samples, genotypes, table, genes);
    } catch (...) {
        remove_temporaries(dir);
        throw;
    }
}
