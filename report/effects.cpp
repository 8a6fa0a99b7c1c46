#include "report/effects.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <boost/math/distributions/fisher_f.hpp>

#include "files/program_error.hpp"
#include "report/text_lines.hpp"

const char* const kEffectColumns = "\tn0\tn1\tn2\tr0\tr1\tr2\tgene1_log10p\tgene2_log10p";

namespace {

constexpr double kNA = std::numeric_limits<double>::quiet_NaN();

std::string at(const std::string& path, unsigned long line)
{
    return path + " line " + std::to_string(line) + ": ";
}

void check_rows(const std::string& path, std::size_t lines, const std::string& table, std::size_t rows)
{
    if (lines != rows)
        throw ProgramError(path + " has " + std::to_string(lines) + " lines, but " + table + " has " +
                          std::to_string(rows) + " rows");
}

std::vector<char> read_alleles(const std::string& path)
{
    std::vector<char> refs;
    for_each_line(path, [&](const std::string& line, unsigned long number) {
        if (line.size() != 1)
            throw ProgramError(at(path, number) + "expected one allele letter");
        refs.push_back(line[0]);
    });
    return refs;
}

// genotype.txt lists sample by sample; a row reads one SNP, so the classes
// are kept SNP by SNP.
std::vector<unsigned char> read_classes(const std::string& path, const std::vector<char>& refs,
                                        std::size_t& samples)
{
    const std::size_t width = 4 * refs.size();
    std::vector<unsigned char> bySample;
    samples = for_each_line(path, [&](const std::string& line, unsigned long number) {
        if (line.size() != width)
            throw ProgramError(at(path, number) + std::to_string(line.size()) + " characters, not the " +
                              std::to_string(width) + " of two alleles and two tabs for each of the " +
                              std::to_string(refs.size()) + " SNPs of allele.txt");
        for (std::size_t j = 0; j < refs.size(); ++j)
            bySample.push_back((line[4 * j] != refs[j]) + (line[4 * j + 2] != refs[j]));
    });
    if (samples == 0)
        throw ProgramError(path + " holds no sample");
    std::vector<unsigned char> bySnp(bySample.size());
    for (std::size_t s = 0; s < samples; ++s)
        for (std::size_t j = 0; j < refs.size(); ++j)
            bySnp[j * samples + s] = bySample[s * refs.size() + j];
    return bySnp;
}

std::vector<double> read_logs(const std::string& path, std::size_t samples)
{
    std::vector<double> logs;
    for_each_line(path, [&](const std::string& line, unsigned long number) {
        std::size_t count = 0;
        for (std::size_t start = 0; start <= line.size(); ++count) {
            const std::size_t stop = std::min(line.find('\t', start), line.size());
            char* end = nullptr;
            const double v = std::strtod(line.c_str() + start, &end);
            if (end != line.c_str() + stop || !(v > 0) || !std::isfinite(v))
                throw ProgramError(at(path, number) + "value " + std::to_string(count + 1) + " '" +
                                  line.substr(start, stop - start) + "' is not a positive number");
            logs.push_back(std::log10(v));
            start = stop + 1;
        }
        if (count != samples)
            throw ProgramError(at(path, number) + std::to_string(count) + " values, but genotype.txt has " +
                              std::to_string(samples) + " samples");
    });
    return logs;
}

// One gene's values by genotype class.
struct ClassMoments {
    double sum[3] = {0, 0, 0}, mean[3] = {0, 0, 0}, ss[3] = {0, 0, 0}, first[3] = {0, 0, 0};
    bool varies[3] = {false, false, false};  // exact: centred sums of equal values need not be 0
};

void add(ClassMoments& m, int k, bool first, double v)
{
    if (first)
        m.first[k] = v;
    m.varies[k] |= v != m.first[k];
    m.sum[k] += v;
}

double anova_log10_p(const ClassMoments& m, const std::size_t n[3])
{
    std::size_t total = 0, groups = 0;
    double sum = 0, within = 0;
    bool varies = false;
    for (int k = 0; k < 3; ++k)
        if (n[k]) {
            total += n[k];
            ++groups;
            sum += m.sum[k];
            within += m.ss[k];
            varies |= m.varies[k];
        }
    if (groups < 2 || !varies)
        return kNA;
    const double grand = sum / total;
    double between = 0;
    for (int k = 0; k < 3; ++k)
        if (n[k])
            between += n[k] * (m.mean[k] - grand) * (m.mean[k] - grand);
    const double df1 = groups - 1, df2 = total - groups;
    const double f = (between / df1) / (within / df2);
    // The upper tail itself: 1 - cdf would lose every p below 1e-16.
    return std::log10(cdf(complement(boost::math::fisher_f_distribution<double>(df1, df2), f)));
}

void append(std::string& out, const char* format, double v)
{
    char text[64];
    if (std::isnan(v))
        out += "\tNA";
    else
        out.append(text, std::snprintf(text, sizeof text, format, v));
}

}  // namespace

EffectTables read_effect_tables(const std::string& dir, std::size_t snps, std::size_t genes)
{
    EffectTables t;
    const std::vector<char> refs = read_alleles(dir + "/allele.txt");
    check_rows(dir + "/allele.txt", refs.size(), dir + "/snps.tsv", snps);
    t.classes = read_classes(dir + "/genotype.txt", refs, t.samples);
    t.logs = read_logs(dir + "/expression.txt", t.samples);
    check_rows(dir + "/expression.txt", t.logs.size() / t.samples, dir + "/genes.tsv", genes);
    return t;
}

PairEffects pair_effects(const EffectTables& t, std::size_t snp, std::size_t gene1, std::size_t gene2)
{
    const unsigned char* c = &t.classes[snp * t.samples];
    const double* x = &t.logs[gene1 * t.samples];
    const double* y = &t.logs[gene2 * t.samples];
    PairEffects e;
    ClassMoments a, b;
    for (std::size_t s = 0; s < t.samples; ++s) {
        const bool first = e.n[c[s]]++ == 0;
        add(a, c[s], first, x[s]);
        add(b, c[s], first, y[s]);
    }
    for (int k = 0; k < 3; ++k)
        if (e.n[k]) {
            a.mean[k] = a.sum[k] / e.n[k];
            b.mean[k] = b.sum[k] / e.n[k];
        }
    double sxy[3] = {0, 0, 0};
    for (std::size_t s = 0; s < t.samples; ++s) {
        const double dx = x[s] - a.mean[c[s]], dy = y[s] - b.mean[c[s]];
        a.ss[c[s]] += dx * dx;
        b.ss[c[s]] += dy * dy;
        sxy[c[s]] += dx * dy;
    }
    for (int k = 0; k < 3; ++k)
        e.r[k] = e.n[k] >= 3 && a.varies[k] && b.varies[k] ? sxy[k] / std::sqrt(a.ss[k] * b.ss[k]) : kNA;
    e.log10_p[0] = anova_log10_p(a, e.n);
    e.log10_p[1] = anova_log10_p(b, e.n);
    return e;
}

std::string effect_columns(const PairEffects& e)
{
    std::string out;
    for (std::size_t n : e.n)
        out += '\t' + std::to_string(n);
    for (double r : e.r)
        append(out, "\t%.6f", r);
    for (double p : e.log10_p)
        append(out, "\t%f", p);
    return out;
}
