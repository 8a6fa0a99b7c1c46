#include "report/annotate.hpp"

#include <ostream>

#include "files/program_error.hpp"
#include "report/text_lines.hpp"

namespace {

// Reads a prepared table: a header line, then rows whose first field is
// their 0-based row number. Returns the fields after the index, with `keep`
// of them joined by tabs.
std::vector<std::string> read_table(const std::string& path, std::size_t fields, std::size_t keep)
{
    std::vector<std::string> rows;
    for_each_line(path, [&](std::string line, unsigned long number) {
        if (!line.empty() && line.back() == '\r')  // a table saved on Windows
            line.pop_back();
        std::size_t tabs = 0;
        for (char c : line)
            tabs += c == '\t';
        const std::string where = path + " line " + std::to_string(number) + ": ";
        if (tabs + 1 != fields)
            throw ProgramError(where + "expected " + std::to_string(fields) + " tab-separated fields");
        if (number == 1)
            return;
        const std::size_t first = line.find('\t');
        if (line.substr(0, first) != std::to_string(rows.size()))
            throw ProgramError(where + "the index is not " + std::to_string(rows.size()));
        std::size_t end = first;
        for (std::size_t k = 0; k < keep && end != std::string::npos; ++k)
            end = line.find('\t', end + 1);
        rows.push_back(line.substr(first + 1, end == std::string::npos ? end : end - first - 1));
    });
    return rows;
}

const std::string& lookup(const std::vector<std::string>& table, unsigned long index, const char* what,
                          const ResultReader& reader, const std::string& results)
{
    if (index >= table.size())
        throw ProgramError(results + " line " + std::to_string(reader.line_number()) + ": " + what + " index " +
                          std::to_string(index) + " is beyond the " + std::to_string(table.size()) +
                          " rows of the prepared table");
    return table[index];
}

// The q-value of a row's printed log10 p; NaN where the test gave no number
// or was not run. A value in a bin where the real scan counted no pair
// cannot be from the scan the histogram counted.
double row_q(const FdrCurve& c, std::string_view text, const char* test, const ResultReader& reader,
             const std::string& results)
{
    unsigned bin = 0;
    bool nan = false;
    if (!bin_of_text(text.data(), text.data() + text.size(), bin, nan))
        return std::numeric_limits<double>::quiet_NaN();
    if (!real_count_in(c, bin))
        throw ProgramError(results + " line " + std::to_string(reader.line_number()) + ": its " + test + " value " +
                           std::string(text) + " lies where the histogram's real scan counted no pair: the " +
                           "histogram is not of this result file");
    return c.q[bin];
}

}  // namespace

QColumns read_q_columns(const Histogram& h, const std::string& histogram)
{
    check_permutation_scans(h, histogram);
    return {fdr_curve(h, &HistogramScan::mc), fdr_curve(h, &HistogramScan::it)};
}

PreparedTables read_prepared(const std::string& dir)
{
    return {read_table(dir + "/snps.tsv", 6, 5), read_table(dir + "/genes.tsv", 5, 1)};
}

void set_flags(AnnotateFilter& filter, const std::string& list)
{
    for (bool& f : filter.flags)
        f = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string flag = list.substr(start, comma == std::string::npos ? comma : comma - start);
        if (flag != "0" && flag != "1" && flag != "2")
            throw ProgramError("--flags takes a comma-separated list of 0, 1 and 2, not '" + list + "'");
        filter.flags[flag[0] - '0'] = true;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
}

bool keeps(const AnnotateFilter& filter, const ResultRecord& record)
{
    // "-inf" (a p-value below the smallest double) passes every limit.
    return filter.flags[record.flag] && record.log10_mc <= filter.max_log10_mc &&
           (!filter.it_required || (record.flag == 1 && record.log10_it <= filter.max_log10_it));
}

void annotate(const std::string& results, const PreparedTables& tables, const AnnotateFilter& filter,
              std::ostream& out, bool partial, const EffectTables* effects, const QColumns* q)
{
    ResultReader reader(results, partial);
    out << "snp_id\tchrom\tpos\tref\talt\tgene1_id\tgene2_id\tflag\tlog10_p_mc\tlda\tlog10_p_it"
        << (q ? "\tq_mc\tq_it" : "") << (effects ? kEffectColumns : "") << '\n';
    ResultRecord r;
    while (reader.next(r)) {
        const std::string& snp = lookup(tables.snps, r.snp, "SNP", reader, results);
        const std::string& gene1 = lookup(tables.genes, r.gene1, "gene 1", reader, results);
        const std::string& gene2 = lookup(tables.genes, r.gene2, "gene 2", reader, results);
        const double qMc = q ? row_q(q->mc, r.mc, "MC", reader, results) : 0;
        const double qIt = q ? row_q(q->it, r.it, "IT", reader, results) : 0;
        if (!keeps(filter, r) || (q && !(qMc <= q->max_q || qIt <= q->max_q)))
            continue;
        out << snp << '\t' << gene1 << '\t' << gene2 << '\t' << r.flag_text << '\t' << r.mc << '\t' << r.lda << '\t'
            << r.it;
        if (q)
            out << '\t' << q_text(qMc) << '\t' << q_text(qIt);
        // read_effect_tables matched its rows to snps.tsv and genes.tsv: the lookups bound these indices.
        if (effects)
            out << effect_columns(pair_effects(*effects, r.snp, r.gene1, r.gene2));
        out << '\n';
    }
    if (!out.flush())
        throw ProgramError("cannot write the output");
}
