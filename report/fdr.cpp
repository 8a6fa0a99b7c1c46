#include "report/fdr.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "files/program_error.hpp"

namespace {

// Counts at bins b and above, for every b.
std::vector<std::uint64_t> tails(const std::vector<std::uint64_t>& bins)
{
    std::vector<std::uint64_t> t(bins.size(), 0);
    std::uint64_t sum = 0;
    for (std::size_t b = bins.size(); b-- > 0;)
        t[b] = sum += bins[b];
    return t;
}

// The printed log10 p of cut-off b; 0.0 - x, so that bin 0 reads "0.00", not "-0.00".
std::string log10_text(unsigned b)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", 0.0 - b / static_cast<double>(kBinsPerUnit));
    return text;
}

std::string table_row(const char* statistic, const std::string& qText, const Cutoff& c, const char* method)
{
    return std::string(statistic) + '\t' + qText + '\t' + (c.found ? log10_text(c.bin) : "NA") + '\t' +
           std::to_string(c.discoveries) + '\t' + method + '\n';
}

const std::pair<const char*, Statistic> kStatistics[] = {{"mc", &HistogramScan::mc}, {"it", &HistogramScan::it}};

}  // namespace

void check_permutation_scans(const Histogram& h, const std::string& path)
{
    if (h.scans.size() < 2)
        throw ProgramError(path + ": the histogram has no permutation scans: run morv with --permutations K");
    for (std::size_t k = 1; k < h.scans.size(); ++k)
        if (h.scans[k].pairs != h.scans[0].pairs)
            throw ProgramError(path + ": permutation scan " + std::to_string(k) + " covers " +
                               std::to_string(h.scans[k].pairs) + " pairs but the real scan " +
                               std::to_string(h.scans[0].pairs) + ": its scans are not of one run");
}

FdrCurve fdr_curve(const Histogram& h, Statistic s)
{
    FdrCurve c;
    c.real = tails((h.scans[0].*s).bins);
    std::vector<std::uint64_t> pooled(kBins, 0);
    for (std::size_t k = 1; k < h.scans.size(); ++k)
        for (unsigned b = 0; b < kBins; ++b)
            pooled[b] += (h.scans[k].*s).bins[b];
    const std::vector<std::uint64_t> nullTails = tails(pooled);
    const double scans = static_cast<double>(h.scans.size() - 1);
    c.null.resize(kBins);
    c.q.resize(kBins);
    // q(b) is the least FDR over b and every less strict cut-off: a stricter
    // cut-off never has a larger q.
    double least = std::numeric_limits<double>::quiet_NaN();
    for (unsigned b = 0; b < kBins; ++b) {
        c.null[b] = static_cast<double>(nullTails[b]) / scans;
        if (c.real[b] > 0 && !(fdr_at(c, b) >= least))
            least = fdr_at(c, b);
        c.q[b] = std::min(least, 1.0);  // stays NaN while no cut-off has a real pair
    }
    return c;
}

double fdr_at(const FdrCurve& c, unsigned b)
{
    return c.null[b] / static_cast<double>(c.real[b]);
}

std::string q_text(double v)
{
    if (std::isnan(v))
        return "NA";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

bool real_count_in(const FdrCurve& c, unsigned b)
{
    return c.real[b] > (b + 1 < kBins ? c.real[b + 1] : 0);
}

Cutoff permutation_cutoff(const FdrCurve& c, double q)
{
    for (unsigned b = 0; b < kBins; ++b)
        if (c.real[b] > 0 && c.q[b] <= q)
            return {true, b, c.real[b]};
    return {};
}

Cutoff bh_cutoff(const std::vector<std::uint64_t>& real, std::uint64_t m, double q)
{
    for (unsigned b = 0; b < kBins; ++b) {
        const double edge = std::pow(10.0, -static_cast<double>(b) / kBinsPerUnit);
        if (real[b] > 0 && edge <= static_cast<double>(real[b]) * q / static_cast<double>(m))
            return {true, b, real[b]};
    }
    return {};
}

std::string fdr_table(const Histogram& h, double q, const std::string& qText)
{
    std::string out = "statistic\tq\tcutoff_log10p\tdiscoveries\tmethod\n";
    for (const auto& [name, s] : kStatistics) {
        const FdrCurve c = fdr_curve(h, s);
        out += table_row(name, qText, permutation_cutoff(c, q), "permutation");
        // BH counts every pair the real scan holds as a test: one that never
        // reached it, or whose p is not a number, is a test that found nothing.
        out += table_row(name, qText, bh_cutoff(c.real, h.scans[0].pairs, q), "bh");
    }
    return out;
}

std::string fdr_curve_text(const Histogram& h)
{
    std::string out = "statistic\tlog10p\treal\tnull_mean\tfdr\tq\n";
    for (const auto& [name, s] : kStatistics) {
        const FdrCurve c = fdr_curve(h, s);
        for (unsigned b = 0; b < kBins && c.real[b] > 0; ++b)
            out += std::string(name) + '\t' + log10_text(b) + '\t' + std::to_string(c.real[b]) + '\t' +
                   q_text(c.null[b]) + '\t' + q_text(fdr_at(c, b)) + '\t' + q_text(c.q[b]) + '\n';
    }
    return out;
}
