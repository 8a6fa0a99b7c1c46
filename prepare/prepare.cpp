#include "prepare/prepare.hpp"

#include <cstdio>
#include <memory>
#include <strings.h>

#include "files/checked_input.hpp"
#include "files/checksum.hpp"
#include "files/program_error.hpp"
#include "prepare/covariates.hpp"
#include "prepare/near_duplicates.hpp"
#include "prepare/sample_match.hpp"
#include "prepare/writer.hpp"

namespace {

// What was written, when it is not the file's values themselves.
std::string values_written(const ValueSettings& v)
{
    const bool ranks = v.transform == Transform::inverse_normal;
    if (!v.covariates)
        return ranks ? "inverse-normal transform of the ranks of each gene's values" : "each value plus the pseudo-count";
    return std::string(ranks ? "inverse-normal transform of the ranks of " : "10^ of ") + "the residuals of log10(value" +
           (v.pseudocount > 0 ? " + pseudo-count" : "") + ") on " + std::to_string(v.covariates->names.size()) +
           " covariates" + (ranks ? "" : ", about each gene's mean");
}

void print_values(std::ostream& out, const ValueSettings& v, const GeneCounts& g)
{
    if (v.transform == Transform::log && !(v.pseudocount > 0) && !v.covariates)
        return;
    out << "expression written as: " << values_written(v) << "\n";
    if (v.covariates)
        out << "covariates used: " << v.covariates->names.size() << "\n"
            << "residual degrees of freedom: " << v.covariates->residual_df() << "\n"
            << "samples of the covariate file not kept: " << v.covariates->extra_samples << "\n";
    if (v.transform == Transform::inverse_normal)
        out << "genes skipped, over half the samples tied: " << g.mostly_tied << "\n";
    if (v.covariates && !(v.pseudocount > 0) && g.not_positive > 0)
        out << "(the genes with a zero have no log10 to regress: --pseudocount C keeps them)\n";
}

void print_near_duplicates(std::ostream& out, const NearDuplicates& d, const ExpressionTable& table,
                           const KeptGenes& genes)
{
    out << "kept gene pairs correlated with |r| above 0.99: " << d.pairs;
    for (std::size_t k = 0; k < d.first.size(); ++k) {
        char r[32];
        std::snprintf(r, sizeof r, "%.4f", d.r[k]);
        out << (k ? ", " : " (") << table.genes[genes.rows[d.first[k].first]].id << " and "
            << table.genes[genes.rows[d.first[k].second]].id << ": r " << r;
    }
    out << (d.pairs > d.first.size() ? ", ...)" : d.pairs ? ")" : "") << "\n";
}

void print_summary(std::ostream& out, const SampleMatch& m, const SnpCounts& s, const GeneCounts& g, bool zeros_ok)
{
    out << "samples matched: " << m.vcf_columns.size() << "\n"
        << "samples dropped from the VCF: " << m.dropped_genotype << "\n"
        << "samples dropped from the expression file: " << m.dropped_expression << "\n"
        << "SNPs kept: " << s.kept << "\n"
        << "SNPs skipped, multi-allelic: " << s.multi_allelic << "\n"
        << "SNPs skipped, not a SNV: " << s.not_snv << "\n"
        << "SNPs skipped, missing call: " << s.missing_call << "\n"
        << "SNPs skipped, not diploid: " << s.not_diploid << "\n"
        << "SNPs skipped, outside the region: " << s.outside_region << "\n"
        << "SNPs skipped, below --min-class: " << s.below_min_class << "\n"
        << "SNPs skipped, below --maf: " << s.below_maf << "\n"
        << "genes kept: " << g.kept << "\n"
        << "genes skipped, not listed: " << g.not_listed << "\n"
        << "genes skipped, missing value: " << g.missing << "\n"
        << "genes skipped, non-numeric value: " << g.non_numeric << "\n"
        << (zeros_ok ? "genes skipped, negative value: " : "genes skipped, zero or negative value: ") << g.not_positive
        << "\n"
        << "genes skipped, value out of range: " << g.out_of_range << "\n"
        << "kept SNPs with a genotype class under three samples: " << s.small_class << "\n";
}

std::string without_chr(const std::string& contig)
{
    return contig.size() > 3 && strncasecmp(contig.c_str(), "chr", 3) == 0 ? contig.substr(3) : contig;
}

// A region that meets no SNP most often names the contig as another build
// does ("22" for "chr22"): says what the records are on, and the likely name.
std::string region_hint(const Options& o, const std::vector<std::string>& contigs)
{
    const std::string& wanted = o.filter.region.chrom;
    if (wanted.empty() || contigs.empty())
        return "";
    std::string hint = "; --region names contig " + wanted + ", its records are on ";
    for (std::size_t i = 0; i < contigs.size() && i < 5; ++i)
        hint += (i ? ", " : "") + contigs[i];
    if (contigs.size() > 5)
        hint += ", ...";
    for (const std::string& contig : contigs)
        if (contig != wanted && without_chr(contig) == without_chr(wanted))
            return hint + " (did you mean --region " + contig + o.given.at("--region").substr(wanted.size()) + "?)";
    return hint;
}

Manifest inputs_json(const Options& o)
{
    Manifest inputs;
    inputs["vcf"] = facts_json(file_facts(o.vcf));
    inputs["expression"] = facts_json(file_facts(o.expression));
    for (const auto& [key, path] : {std::pair{"sample_map", o.sample_map}, {"genes", o.genes}, {"samples", o.samples},
                                    {"covariates", o.covariates}})
        if (!path.empty())
            inputs[key] = facts_json(file_facts(path));
    return inputs;
}

// As given on the command line; null when not given.
Manifest settings_json(const Options& o)
{
    const auto text = [&](const char* option) {
        const auto it = o.given.find(option);
        return it == o.given.end() ? Manifest() : Manifest(it->second);
    };
    const auto number = [&](const char* option, const Manifest& value) {
        return o.given.count(option) ? value : Manifest();
    };
    Manifest settings = {{"region", text("--region")},
                         {"min_class", number("--min-class", o.filter.min_class)},
                         {"maf", number("--maf", o.filter.maf)},
                         {"scale", text("--scale")},
                         {"transform", o.values.transform == Transform::inverse_normal ? "int" : "log"},
                         {"pseudocount", number("--pseudocount", o.values.pseudocount)}};
    if (o.bed_columns)  // only when given: a run without it keeps its manifest as it was
        settings["bed_columns"] = o.bed_columns;
    return settings;
}

}  // namespace

void prepare(const Options& o, Manifest manifest, std::ostream& out)
{
    // A device, FIFO, folder or link named like an output is refused before any work.
    OutputSet outputs(o.out, kOutputNames);
    VcfFile vcf(o.vcf);
    const ExpressionTable table = parse_expression(read_checked_text(o.expression), o.expression, o.bed_columns);
    const SampleMatch samples =
        match_samples(vcf.samples(), table.samples, o.sample_map.empty() ? std::map<std::string, std::string>{} : read_sample_map(o.sample_map),
                      o.samples.empty() ? std::set<std::string>{} : read_id_list(o.samples));
    std::unique_ptr<Covariates> covariates;
    ValueSettings values = o.values;
    if (!o.covariates.empty()) {
        covariates = std::make_unique<Covariates>(match_covariates(read_covariates(o.covariates), o.covariates,
                                                                   samples.expression_ids, samples.genotype_ids));
        values.covariates = covariates.get();
    }
    KeptGenes genes = select_genes(table, samples.expression_columns,
                                   o.genes.empty() ? std::set<std::string>{} : read_id_list(o.genes), o.scale,
                                   zeros_allowed(values));
    transform_genes(genes, values);
    const Genotypes genotypes = vcf.read(samples.vcf_columns, o.filter);
    if (genotypes.snps.empty())
        throw ProgramError("no SNP of " + o.vcf + " passed the filters" + region_hint(o, genotypes.contigs));
    if (genes.rows.empty())
        throw ProgramError("no gene of " + o.expression + " passed the filters");
    const NearDuplicates duplicates = near_duplicates(genes.values);
    write_outputs(outputs, samples, genotypes, table, genes);
    // The manifest is one of the set, so it always describes the files beside it.
    manifest["inputs"] = inputs_json(o);
    manifest["settings"] = settings_json(o);
    manifest["outputs"] = outputs.outputs();
    manifest["counts"] = {{"samples", samples.vcf_columns.size()}, {"snps", genotypes.snps.size()},
                          {"genes", genes.rows.size()}, {"near_duplicate_gene_pairs", duplicates.pairs}};
    if (covariates)
        manifest["counts"]["covariates"] = covariates->names.size();
    manifest["ended"] = utc_now();
    outputs.write("manifest.json", [&](const OutputSet::Put& put) { put(manifest_text(manifest)); });
    outputs.commit();
    print_summary(out, samples, genotypes.counts, genes.counts, zeros_allowed(values));
    print_values(out, values, genes.counts);
    print_near_duplicates(out, duplicates, table, genes);
}
