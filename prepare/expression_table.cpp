#include "prepare/expression_table.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "files/program_error.hpp"
#include "prepare/text_file.hpp"

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Annotation columns before the samples, from the header's names.
std::size_t annotation_columns(const std::vector<std::string>& header)
{
    if (lower(header[0]).rfind("#chr", 0) != 0)
        return 1;
    if (header.size() >= 6 && (lower(header[5]) == "strd" || lower(header[5]) == "strand"))
        return 6;
    return 4;
}

// A sample named like this is an annotation column the header rule did not
// count: read as a sample it would only be dropped as unmatched, unnoticed.
void refuse_annotation_names(const std::vector<std::string>& header, std::size_t skip, const std::string& name)
{
    static const std::set<std::string> annotation = {"chr", "chrom", "start", "end", "id", "pid", "gid", "name",
                                                     "gene", "score", "length", "strand", "strd"};
    for (std::size_t k = skip; k < header.size(); ++k)
        if (annotation.count(lower(header[k])))
            throw ProgramError("the expression file " + name + ": column " + std::to_string(k + 1) +
                               " of its header, \"" + header[k] + "\", names an annotation, not a sample; say how "
                               "many columns come before the samples with --bed-columns 4 or 6");
}

enum class Verdict { ok, missing, non_numeric, not_positive, out_of_range };

// The token morv reads for one value, or why there is none.
Verdict convert(const std::string& token, Scale scale, bool zeros_ok, std::string& written, double& number)
{
    if (token.empty() || token == "NA" || token == "NaN" || token == "nan" || token == ".")
        return Verdict::missing;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(token.c_str(), &end);
    if (end != token.c_str() + token.size() || errno == ERANGE)
        return Verdict::non_numeric;
    if (!std::isfinite(v))
        return Verdict::out_of_range;
    if (scale == Scale::raw) {
        if (!(v > 0 || (zeros_ok && v == 0)))
            return Verdict::not_positive;
        written = token;
        number = v;
        return Verdict::ok;
    }
    const double raw = scale == Scale::log2 ? std::exp2(v) : scale == Scale::log10 ? std::pow(10.0, v) : std::exp(v);
    if (!std::isfinite(raw) || !(raw > 0))
        return Verdict::out_of_range;
    written = exact_text(raw);
    number = raw;
    return Verdict::ok;
}

}  // namespace

std::string exact_text(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

ExpressionTable parse_expression(const std::string& text, const std::string& name, std::size_t bed_columns)
{
    const std::vector<std::string> lines = split_lines(text);
    if (lines.empty())
        throw ProgramError("the expression file " + name + " is empty");
    const std::vector<std::string> header = split_tabs(lines[0]);
    const std::size_t skip = bed_columns ? bed_columns : annotation_columns(header);
    const bool bed = skip > 1;
    if (header.size() <= skip)
        throw ProgramError("the expression file " + name + " names no samples in its header");
    if (!bed_columns)
        refuse_annotation_names(header, skip, name);
    ExpressionTable table;
    table.samples.assign(header.begin() + static_cast<long>(skip), header.end());
    std::unordered_set<std::string> seen;
    for (const std::string& s : table.samples)
        if (!seen.insert(s).second)
            throw ProgramError("the expression file " + name + " names sample " + s + " twice");
    seen.clear();
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        std::vector<std::string> fields = split_tabs(lines[i]);
        if (fields.size() != header.size())
            throw ProgramError("the expression file " + name + " line " + std::to_string(i + 1) + " has " +
                               std::to_string(fields.size()) + " fields, the header " + std::to_string(header.size()));
        Gene gene;
        gene.id = bed ? fields[3] : fields[0];
        if (bed) {
            gene.chrom = fields[0];
            gene.start = fields[1];
            gene.end = fields[2];
        }
        if (!seen.insert(gene.id).second)
            throw ProgramError("the expression file " + name + " line " + std::to_string(i + 1) + " repeats gene " + gene.id);
        gene.values.assign(fields.begin() + static_cast<long>(skip), fields.end());
        table.genes.push_back(std::move(gene));
    }
    return table;
}

KeptGenes select_genes(const ExpressionTable& table, const std::vector<std::size_t>& columns,
                       const std::set<std::string>& listed, Scale scale, bool zeros_ok)
{
    KeptGenes kept;
    std::vector<std::string> values(columns.size());
    std::vector<double> numbers(columns.size());
    for (std::size_t row = 0; row < table.genes.size(); ++row) {
        const Gene& gene = table.genes[row];
        if (!listed.empty() && !listed.count(gene.id)) {
            ++kept.counts.not_listed;
            continue;
        }
        Verdict verdict = Verdict::ok;
        for (std::size_t k = 0; k < columns.size() && verdict == Verdict::ok; ++k)
            verdict = convert(gene.values[columns[k]], scale, zeros_ok, values[k], numbers[k]);
        switch (verdict) {
        case Verdict::ok:
            ++kept.counts.kept;
            kept.rows.push_back(row);
            kept.values.push_back(values);
            kept.raw.push_back(numbers);
            break;
        case Verdict::missing: ++kept.counts.missing; break;
        case Verdict::non_numeric: ++kept.counts.non_numeric; break;
        case Verdict::not_positive: ++kept.counts.not_positive; break;
        case Verdict::out_of_range: ++kept.counts.out_of_range; break;
        }
    }
    return kept;
}
