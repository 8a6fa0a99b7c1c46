// The fast scan shipped in morv. Its results are byte for byte those of the
// reference scan; it only avoids repeated work:
//  - log10 of the expression table and each sample's class are computed once
//    (per run and per SNP) instead of once per pair;
//  - per SNP, each gene's class sums and sums of squares are computed once,
//    as they do not depend on the partner gene;
//  - per pair only the three class cross sums and the whole-sample cross sum
//    remain, each still summed in sample order, computed for blocks of genes
//    against all their partners at once, vectorised across partners;
//  - the LDA and the interaction test run only for pairs that reach them, on
//    test data assembled into storage reused across pairs;
//  - lines are formatted exactly without printf and written in large blocks.
#include "driver/scan.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/fixed_format.hpp"
#include "driver/result_file.hpp"
#include "driver/result_writer.hpp"
#include "io/allele.hpp"
#include "io/globals.hpp"
#include "stats/chi_squared_tail.hpp"
#include "stats/interaction_test.hpp"
#include "stats/lda.hpp"
#include "stats/mc_test.hpp"
#include "stats/pair_sums.hpp"

namespace {

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};
using AlignedDoubles = std::unique_ptr<double[], FreeDeleter>;

AlignedDoubles aligned_doubles(std::size_t count)
{
    std::size_t bytes = ((count * sizeof(double) + 63) / 64) * 64;
    if (bytes == 0)
        bytes = 64;
    void* p = std::aligned_alloc(64, bytes);
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return AlignedDoubles(static_cast<double*>(p));
}

// The genotype classes of one SNP, and the samples in class order (stable, so
// each class keeps sample order).
struct SnpClasses {
    std::vector<unsigned char> ofSample;
    std::vector<std::size_t> order;
    std::size_t begin[4] = {0, 0, 0, 0};  // class k occupies order[begin[k] .. begin[k+1])
    double counts[3] = {0, 0, 0};
};

void classify_samples(const GenotypeMatrix& G, unsigned snp, char allele, std::size_t samples,
                      SnpClasses& c)
{
    c.ofSample.resize(samples);
    std::size_t sizes[3] = {0, 0, 0};
    double c0 = 0.0, c1 = 0.0;
    for (std::size_t s = 0; s < samples; ++s) {
        const char a1 = G(s, 2 * snp), a2 = G(s, 2 * snp + 1);
        const unsigned char k = a1 == allele ? (a2 == allele ? 0 : 1) : (a2 == allele ? 1 : 2);
        c.ofSample[s] = k;
        ++sizes[k];
        if (k == 0) c0 += 1.0;
        if (k == 1) c1 += 1.0;
    }
    c.counts[0] = c0;
    c.counts[1] = c1;
    c.counts[2] = static_cast<double>(static_cast<unsigned>(samples)) - c0 - c1;
    c.begin[0] = 0;
    c.begin[1] = sizes[0];
    c.begin[2] = sizes[0] + sizes[1];
    c.begin[3] = samples;
    c.order.resize(samples);
    std::size_t next[3] = {c.begin[0], c.begin[1], c.begin[2]};
    for (std::size_t s = 0; s < samples; ++s)
        c.order[next[c.ofSample[s]]++] = s;
}

// Per class and gene, what the group statistics derive from one gene alone.
struct GeneClassStats {
    std::vector<double> sum[3], squares[3], mean[3], var[3];
};

void gene_class_stats(const double* sorted, std::size_t samples, std::size_t panels,
                      const SnpClasses& c, GeneClassStats& st)
{
    const std::size_t width = panels * kPanel;
    for (int k = 0; k < 3; ++k) {
        st.sum[k].assign(width, 0.0);
        st.squares[k].assign(width, 0.0);
        st.mean[k].resize(width);
        st.var[k].resize(width);
        column_sums(sorted, samples, c.begin[k], c.begin[k + 1], panels, st.sum[k].data(),
                    st.squares[k].data());
        const double cnt = c.counts[k];
        for (std::size_t g = 0; g < width; ++g) {
            const double m = st.sum[k][g] / cnt;
            st.mean[k][g] = m;
            st.var[k][g] = st.squares[k][g] / cnt - m * m;
        }
    }
}

// The whole-sample cross sum of one pair, in sample order.
double whole_cross_sum(const double* logs, std::size_t samples, std::size_t g1, std::size_t g2)
{
    double sum = 0.0;
    for (std::size_t s = 0; s < samples; ++s)
        sum += logs[panel_index(samples, s, g1)] * logs[panel_index(samples, s, g2)];
    return sum;
}

// Position of pair (g1, g2), g1 < g2, in visiting order.
std::size_t pair_index(std::size_t genes, std::size_t g1, std::size_t g2)
{
    return g1 * genes - g1 * (g1 + 1) / 2 + (g2 - g1 - 1);
}

// Writes "i\tg1\t" once per gene row; the rest of each line follows it.
char* put_uint(char* p, unsigned long long v)
{
    return std::to_chars(p, p + 24, v).ptr;
}

char* put_text(char* p, const char* text, std::size_t len)
{
    std::memcpy(p, text, len);
    return p + len;
}

// A result line: "i\tg1\t" (the row's prefix), then g2, flag and values in
// the format of its flag.
char* format_line(char* p, const char* prefix, std::size_t prefixLen, std::size_t g2, int flag,
                  double pMc, double lda, double pIt)
{
    p = put_text(p, prefix, prefixLen);
    p = put_uint(p, g2);
    *p++ = '\t';
    *p++ = static_cast<char>('0' + flag);
    *p++ = '\t';
    p = format_fixed6(p, std::log10(pMc));
    if (flag == kPrunedByMc)
        return put_text(p, "\t1.0\t1.0\n", 9);
    *p++ = '\t';
    p = format_fixed6(p, lda);
    if (flag == kPrunedByLda)
        return put_text(p, "\t1.0\n", 5);
    *p++ = '\t';
    p = format_fixed6(p, std::log10(pIt));
    *p++ = '\n';
    return p;
}

// Whole-sample terms ln(det3)*N are the same for every SNP; they are kept
// from the first SNP when the table stays this small.
constexpr std::size_t kWholeTermBytes = std::size_t(32) << 20;

}  // namespace

ScanCounts run_scan(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                    ExpressionMatrix& E, ublas::matrix<double>& geneMoments)
{
    ScanCounts counts;
    const double ldaCutoff = lda_cutoff();
    const std::size_t samples = static_cast<std::size_t>(n);
    const std::size_t genes = static_cast<std::size_t>(ngene);
    const unsigned snps = static_cast<unsigned>(ps);
    const double N = static_cast<double>(static_cast<unsigned>(n));

    ResultWriter out;
    open_result_writer(out, paths.output);
    install_interrupt_handlers();

    // log10 of every expression value, once per run; `sorted` holds the same
    // samples in class order, per SNP.
    const std::size_t panels = panel_count(genes);
    const std::size_t width = panels * kPanel;
    AlignedDoubles logs = aligned_doubles(samples * width);
    AlignedDoubles sorted = aligned_doubles(samples * width);
    for (std::size_t s = 0; s < samples; ++s)
        for (std::size_t g = 0; g < genes; ++g)
            logs[panel_index(samples, s, g)] = std::log10(E(s, g));

    std::vector<double> mean3(genes), var3(genes);
    for (std::size_t g = 0; g < genes; ++g) {
        mean3[g] = geneMoments(g, 0);
        var3[g] = geneMoments(g, 1) - geneMoments(g, 0) * geneMoments(g, 0);
    }

    const std::size_t pairsPerSnp = genes > 1 ? genes * (genes - 1) / 2 : 0;
    std::vector<double> wholeTerm;
    const bool keepWholeTerm = snps > 1 && pairsPerSnp * sizeof(double) <= kWholeTermBytes;
    if (keepWholeTerm)
        wholeTerm.resize(pairsPerSnp);

    // Cross sums of one block of kRowBlock genes against all partners: one
    // buffer per class and one for the whole sample.
    AlignedDoubles cross[4];
    for (auto& buffer : cross)
        buffer = aligned_doubles(kRowBlock * width);

    // Test data and work objects of the pairs that reach the LDA, reused.
    ublas::matrix<double> X(samples, 2);
    ublas::matrix<unsigned> Y(samples, 2);
    ublas::matrix<double> groupStats(3, 4), groupCov(4, 3);
    ublas::vector<double> groupCounts(3);

    SnpClasses classes;
    GeneClassStats st;
    AlleleReader alleles;
    char prefix[64];

    for (unsigned i = 0; i < snps; ++i) {
        if (int sig = pending_interrupt())
            die_by_signal(out, sig);
        char allele = ' ';
        lookup_allele(alleles, i, allele, paths.allele.c_str());
        if (genes < 2)
            continue;
        classify_samples(G, i, allele, samples, classes);
        for (std::size_t s = 0; s < samples; ++s) {
            const std::size_t from = classes.order[s];
            for (std::size_t p = 0; p < panels; ++p)
                std::memcpy(&sorted[(p * samples + s) * kPanel], &logs[(p * samples + from) * kPanel],
                            kPanel * sizeof(double));
            const unsigned char k = classes.ofSample[s];
            Y(s, 0) = k == 0;
            Y(s, 1) = k == 1;
        }
        gene_class_stats(sorted.get(), samples, panels, classes, st);
        const double* cnt = classes.counts;
        const bool wholeFromTable = keepWholeTerm && i > 0;

        for (std::size_t row0 = 0; row0 < genes - 1; row0 += kRowBlock) {
            const std::size_t p0 = row0 / kPanel;
            for (int k = 0; k < 3; ++k)
                cross_sums_block(sorted.get(), samples, classes.begin[k], classes.begin[k + 1],
                                 row0, p0, panels, cross[k].get(), width);
            if (!wholeFromTable)
                cross_sums_block(logs.get(), samples, 0, samples, row0, p0, panels,
                                 cross[3].get(), width);

            const std::size_t rowEnd = std::min(row0 + kRowBlock, genes - 1);
            for (std::size_t g1 = row0; g1 < rowEnd; ++g1) {
                const std::size_t r = g1 - row0;
                char* pe = put_uint(prefix, i);
                *pe++ = '\t';
                pe = put_uint(pe, g1);
                *pe++ = '\t';
                const std::size_t prefixLen = static_cast<std::size_t>(pe - prefix);
                const double* C[4];
                for (int k = 0; k < 4; ++k)
                    C[k] = cross[k].get() + r * width;
                double* whole = keepWholeTerm ? &wholeTerm[pair_index(genes, g1, g1 + 1)] - (g1 + 1)
                                              : nullptr;

                for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
                    ++counts.pairs;
                    double det[3], cov[3];
                    for (int k = 0; k < 3; ++k) {
                        cov[k] = C[k][g2] / cnt[k];
                        cov[k] = cov[k] - (st.mean[k][g1] * st.sum[k][g2]) / cnt[k];
                        det[k] = class_covariance_det(st.var[k][g1], st.var[k][g2], cov[k], cnt[k]);
                    }
                    double T;
                    if (wholeFromTable) {
                        T = whole[g2];
                    } else {
                        const double cov3 = C[3][g2] / N - mean3[g1] * mean3[g2];
                        T = std::log(covariance_det(var3[g1], var3[g2], cov3)) * N;
                        if (whole)
                            whole[g2] = T;
                    }
                    T = T - std::log(det[0]) * cnt[0];
                    T = T - std::log(det[1]) * cnt[1];
                    T = T - std::log(det[2]) * cnt[2];
                    const double pMc = mc_pvalue_with(T, chi_squared_tail10);

                    int flag = kPrunedByMc;
                    double lda = 0.0, pIt = 0.0;
                    if (threshold > pMc) {
                        for (std::size_t s = 0; s < samples; ++s) {
                            X(s, 0) = logs[panel_index(samples, s, g1)];
                            X(s, 1) = logs[panel_index(samples, s, g2)];
                        }
                        for (int k = 0; k < 3; ++k) {
                            groupStats(k, 0) = st.sum[k][g1];
                            groupStats(k, 1) = st.sum[k][g2];
                            groupStats(k, 2) = st.squares[k][g1];
                            groupStats(k, 3) = st.squares[k][g2];
                            groupCov(k, 0) = st.var[k][g1];
                            groupCov(k, 1) = st.var[k][g2];
                            groupCov(k, 2) = cov[k];
                            groupCounts(k) = cnt[k];
                        }
                        groupCov(3, 0) = var3[g1];
                        groupCov(3, 1) = var3[g2];
                        groupCov(3, 2) = whole_cross_sum(logs.get(), samples, g1, g2) / N -
                                         mean3[g1] * mean3[g2];
                        lda = llvalue_lda(X, Y, groupStats, groupCov, groupCounts);
                        if (ldaCutoff > lda) {
                            double llR = 0.0, llF = 0.0, stat = 0.0;
                            pIt = interaction_test(X, Y, llR, llF, stat);
                            flag = kAllComputed;
                        } else {
                            flag = kPrunedByLda;
                        }
                    }
                    if (flag != kAllComputed)
                        ++counts.prunings;
                    char* end = format_line(line_space(out), prefix, prefixLen, g2, flag, pMc, lda, pIt);
                    out.used = static_cast<std::size_t>(end - out.buffer.data());
                }
            }
            if (int sig = pending_interrupt())
                die_by_signal(out, sig);
            flush_if_stale(out);
        }
    }
    close_allele_reader(alleles);
    close_result_writer(out);
    return counts;
}
