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
//    test data assembled into storage reused across pairs; the interaction
//    test runs on its own allocation-free, vectorised engine, held bit for
//    bit against the plain one;
//  - a pair pruned by the MC threshold needs only log10 of its p-value to
//    six decimals: an estimate with proven error bounds settles that text
//    for nearly every such pair (fast/mc_quick.hpp); whenever it cannot be
//    certain, the pair takes the exact path, which evaluates everything the
//    way the reference does;
//  - lines are formatted exactly without printf and written in large blocks.
#include "driver/scan.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/result_file.hpp"
#include "driver/result_line.hpp"
#include "driver/result_writer.hpp"
#include "exact/chi_squared_tail.hpp"
#include "fast/aligned_doubles.hpp"
#include "fast/interaction_fast.hpp"
#include "fast/mc_quick.hpp"
#include "fast/pair_sums.hpp"
#include "io/allele.hpp"
#include "io/globals.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

namespace {

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

// Row kernels work in whole vectors of 8 and may run up to 7 entries past
// the last partner gene: arrays they touch carry this much slack.
constexpr std::size_t kVectorPad = 8;

// Per class and gene, what the group statistics derive from one gene alone.
struct GeneClassStats {
    std::vector<double> sum[3], squares[3], mean[3], var[3];
};

void gene_class_stats(const FastKernels& kern, const double* sorted, std::size_t samples,
                      std::size_t panels, const SnpClasses& c, GeneClassStats& st)
{
    const std::size_t width = panels * kPanel;
    for (int k = 0; k < 3; ++k) {
        st.sum[k].assign(width + kVectorPad, 0.0);
        st.squares[k].assign(width + kVectorPad, 0.0);
        st.mean[k].resize(width + kVectorPad);
        st.var[k].resize(width + kVectorPad);
        kern.column_sums(sorted, samples, c.begin[k], c.begin[k + 1], panels, st.sum[k].data(),
                         st.squares[k].data());
        const double cnt = c.counts[k];
        for (std::size_t g = 0; g < width; ++g) {
            const double m = st.sum[k][g] / cnt;
            st.mean[k][g] = m;
            st.var[k][g] = st.squares[k][g] / cnt - m * m;
        }
    }
}

// Position of pair (g1, g2), g1 < g2, in visiting order.
std::size_t pair_index(std::size_t genes, std::size_t g1, std::size_t g2)
{
    return g1 * genes - g1 * (g1 + 1) / 2 + (g2 - g1 - 1);
}

// Whole-sample terms ln(det3)*N are the same for every SNP; they are kept
// from the first SNP when the table stays this small.
constexpr std::size_t kWholeTermBytes = std::size_t(32) << 20;

// Everything the scan holds for the current SNP and block of genes.
struct ScanState {
    explicit ScanState(const Kernels& kernels) : k(&kernels), interaction(kernels) {}

    const Kernels* k;
    std::vector<GeneText> geneText;
    std::size_t samples = 0, genes = 0, panels = 0, width = 0;
    double N = 0.0;
    double threshold = 0.0;
    double ldaCutoff = 0.0;
    QuickThreshold quick;
    AlignedDoubles logs, sorted;
    std::vector<double> mean3, var3;
    SnpClasses classes;
    GeneClassStats st;
    AlignedDoubles cross[4];
    // ln(det3) * N per pair, exact, kept from the first SNP when small.
    std::vector<double> wholeTerm;
    bool keepWholeTerm = false;
    bool wholeFromTable = false;
    // Per partner gene of the current row: determinants, their logarithms,
    // the statistic's estimate and its bounds.
    std::vector<double> det[4], lg[4], T, errT, sum, logSum;
    // Test data and work objects of the pairs that reach the LDA, reused.
    std::vector<double> x1, x2;
    std::size_t x1Gene = static_cast<std::size_t>(-1);  // whose column x1 holds
    InteractionWorkspace interaction;
    ublas::matrix<double> groupStats, groupCov;
    ublas::vector<double> groupCounts;
};

double class_covariance(const ScanState& S, int k, std::size_t r, std::size_t g1, std::size_t g2)
{
    const double c = S.classes.counts[k];
    double cov = S.cross[k][r * S.width + g2] / c;
    return cov - (S.st.mean[k][g1] * S.st.sum[k][g2]) / c;
}

double whole_covariance(const ScanState& S, std::size_t r, std::size_t g1, std::size_t g2)
{
    return S.cross[3][r * S.width + g2] / S.N - S.mean3[g1] * S.mean3[g2];
}

double whole_term(ScanState& S, std::size_t r, std::size_t g1, std::size_t g2)
{
    if (S.wholeFromTable)
        return S.wholeTerm[pair_index(S.genes, g1, g2)];
    const double t3 = std::log(covariance_det(S.var3[g1], S.var3[g2], whole_covariance(S, r, g1, g2))) * S.N;
    if (S.keepWholeTerm)
        S.wholeTerm[pair_index(S.genes, g1, g2)] = t3;
    return t3;
}

// The estimates of one row g1 against partners g1+1 .. genes-1, batched so
// the arithmetic and the logarithms vectorise.
void estimate_row(ScanState& S, std::size_t r, std::size_t g1)
{
    const std::size_t first = g1 + 1, count = S.genes - first;
    const double* cnt = S.classes.counts;
    for (int k = 0; k < 3; ++k) {
        S.k->fast.class_determinants(S.cross[k].get() + r * S.width + first, S.st.sum[k].data() + first,
                           S.st.var[k].data() + first, S.st.mean[k][g1], S.st.var[k][g1], cnt[k],
                           count, S.det[k].data());
        S.k->fast.log_batch(S.det[k].data(), S.lg[k].data(), count);
    }
    if (S.keepWholeTerm) {
        // Exact once, in the first SNP; every later SNP reads the table.
        for (std::size_t j = 0; j < count; ++j)
            S.lg[3][j] = whole_term(S, r, g1, first + j);
    } else {
        S.k->fast.whole_determinants(S.cross[3].get() + r * S.width + first, S.mean3.data() + first,
                           S.var3.data() + first, S.mean3[g1], S.var3[g1], S.N, count,
                           S.det[3].data());
        S.k->fast.log_batch(S.det[3].data(), S.lg[3].data(), count);
        for (std::size_t j = 0; j < count; ++j)
            S.lg[3][j] *= S.N;
    }
    S.k->fast.statistic_estimates(S.lg[3].data(), S.lg[0].data(), S.lg[1].data(), S.lg[2].data(), cnt, count,
                        S.T.data(), S.errT.data(), S.sum.data());
    S.k->fast.log_batch(S.sum.data(), S.logSum.data(), count);
}

// The pair evaluated the way the reference does: exact statistic and tail,
// then the LDA and the interaction test when the cascade reaches them. The
// class determinants of the row (entry j) are already exact; so is the
// whole-sample term when the table of them is kept.
int exact_pair(ScanState& S, std::size_t r, std::size_t g1, std::size_t j, double& pMc,
               double& lda, double& pIt)
{
    const std::size_t g2 = g1 + 1 + j;
    const double* cnt = S.classes.counts;
    double T = S.keepWholeTerm ? S.lg[3][j] : whole_term(S, r, g1, g2);
    T = T - std::log(S.det[0][j]) * cnt[0];
    T = T - std::log(S.det[1][j]) * cnt[1];
    T = T - std::log(S.det[2][j]) * cnt[2];
    pMc = mc_pvalue_with(T, chi_squared_tail10);
    if (!(S.threshold > pMc))
        return kPrunedByMc;

    // The log-expression columns in sample order; a row's first gene is
    // gathered once for all its partners.
    const std::size_t samples = S.samples;
    if (S.x1Gene != g1) {
        for (std::size_t s = 0; s < samples; ++s)
            S.x1[s] = S.logs[panel_index(samples, s, g1)];
        S.x1Gene = g1;
    }
    for (std::size_t s = 0; s < samples; ++s)
        S.x2[s] = S.logs[panel_index(samples, s, g2)];
    // The LDA reads only the class rows of the group statistics.
    for (int k = 0; k < 3; ++k) {
        S.groupStats(k, 0) = S.st.sum[k][g1];
        S.groupStats(k, 1) = S.st.sum[k][g2];
        S.groupCov(k, 0) = S.st.var[k][g1];
        S.groupCov(k, 1) = S.st.var[k][g2];
        S.groupCov(k, 2) = class_covariance(S, k, r, g1, g2);
        S.groupCounts(k) = cnt[k];
    }
    prepare_pair(S.x1.data(), S.x2.data(), S.classes.ofSample.data(), samples, S.interaction);
    double beta[6];
    lda = lda_coefficients(S.groupStats, S.groupCov, S.groupCounts, beta)
              ? lda_log_likelihood_fast(S.interaction, beta)
              : -9999.0;
    if (!(S.ldaCutoff > lda))
        return kPrunedByLda;
    double llR = 0.0, llF = 0.0, stat = 0.0;
    pIt = interaction_test_fast(S.interaction, llR, llF, stat);
    return kAllComputed;
}

// Per SNP: classes, samples in class order, class sums.
void prepare_snp(ScanState& S, const GenotypeMatrix& G, unsigned snp, char allele)
{
    classify_samples(G, snp, allele, S.samples, S.classes);
    for (std::size_t s = 0; s < S.samples; ++s) {
        const std::size_t from = S.classes.order[s];
        for (std::size_t p = 0; p < S.panels; ++p)
            std::memcpy(&S.sorted[(p * S.samples + s) * kPanel], &S.logs[(p * S.samples + from) * kPanel],
                        kPanel * sizeof(double));
    }
    gene_class_stats(S.k->fast, S.sorted.get(), S.samples, S.panels, S.classes, S.st);
}

void prepare_run(ScanState& S, double threshold, ExpressionMatrix& E,
                 ublas::matrix<double>& geneMoments)
{
    S.samples = static_cast<std::size_t>(n);
    S.genes = static_cast<std::size_t>(ngene);
    S.N = static_cast<double>(static_cast<unsigned>(n));
    S.threshold = threshold;
    S.ldaCutoff = lda_cutoff();
    S.quick = quick_threshold(threshold);

    // log10 of every expression value, once per run; `sorted` holds the same
    // samples in class order, per SNP.
    S.panels = panel_count(S.genes);
    S.width = S.panels * kPanel;
    S.logs = aligned_doubles(S.samples * S.width);
    S.sorted = aligned_doubles(S.samples * S.width);
    for (std::size_t s = 0; s < S.samples; ++s)
        for (std::size_t g = 0; g < S.genes; ++g)
            S.logs[panel_index(S.samples, s, g)] = std::log10(E(s, g));

    S.geneText.resize(S.genes);
    for (std::size_t g = 0; g < S.genes; ++g) {
        char* end = put_uint(S.geneText[g].text, g);
        *end++ = '\t';
        S.geneText[g].length = static_cast<std::size_t>(end - S.geneText[g].text);
    }
    S.mean3.resize(S.width + kVectorPad);
    S.var3.resize(S.width + kVectorPad);
    for (std::size_t g = 0; g < S.genes; ++g) {
        S.mean3[g] = geneMoments(g, 0);
        S.var3[g] = geneMoments(g, 1) - geneMoments(g, 0) * geneMoments(g, 0);
    }
    const std::size_t pairsPerSnp = S.genes > 1 ? S.genes * (S.genes - 1) / 2 : 0;
    S.keepWholeTerm = ps > 1 && pairsPerSnp * sizeof(double) <= kWholeTermBytes;
    if (S.keepWholeTerm)
        S.wholeTerm.resize(pairsPerSnp);
    for (auto& buffer : S.cross)
        buffer = aligned_doubles(kRowBlock * S.width + kVectorPad);
    for (int k = 0; k < 4; ++k) {
        S.det[k].resize(S.width + kVectorPad);
        S.lg[k].resize(S.width + kVectorPad);
    }
    S.T.resize(S.width + kVectorPad);
    S.errT.resize(S.width + kVectorPad);
    S.sum.resize(S.width + kVectorPad);
    S.logSum.resize(S.width + kVectorPad);
    S.x1.resize(S.samples);
    S.x2.resize(S.samples);
    S.groupStats.resize(3, 2, false);
    S.groupCov.resize(3, 3, false);
    S.groupCounts.resize(3, false);
}

}  // namespace

ScanCounts run_scan_fast(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                         ExpressionMatrix& E, ublas::matrix<double>& geneMoments,
                         const Kernels& kernels)
{
    ScanCounts counts;
    ResultWriter out;
    open_result_writer(out, paths.output);
    install_interrupt_handlers();

    ScanState S(kernels);
    prepare_run(S, threshold, E, geneMoments);
    const std::size_t genes = S.genes;
    AlleleReader alleles;
    char prefix[32];  // "i\tg1\t": at most 22 characters

    for (unsigned i = 0; i < static_cast<unsigned>(ps); ++i) {
        if (int sig = pending_interrupt())
            die_by_signal(out, sig);
        char allele = ' ';
        lookup_allele(alleles, i, allele, paths.allele.c_str());
        if (genes < 2)
            continue;
        prepare_snp(S, G, i, allele);
        S.wholeFromTable = S.keepWholeTerm && i > 0;

        for (std::size_t row0 = 0; row0 < genes - 1; row0 += kRowBlock) {
            const std::size_t p0 = row0 / kPanel;
            for (int k = 0; k < 3; ++k)
                S.k->fast.cross_sums_block(S.sorted.get(), S.samples, S.classes.begin[k], S.classes.begin[k + 1],
                                 row0, p0, S.panels, S.cross[k].get(), S.width);
            if (!S.wholeFromTable)
                S.k->fast.cross_sums_block(S.logs.get(), S.samples, 0, S.samples, row0, p0, S.panels,
                                 S.cross[3].get(), S.width);

            const std::size_t rowEnd = std::min(row0 + kRowBlock, genes - 1);
            for (std::size_t g1 = row0; g1 < rowEnd; ++g1) {
                const std::size_t r = g1 - row0;
                char* pe = put_uint(prefix, i);
                *pe++ = '\t';
                pe = put_uint(pe, g1);
                *pe++ = '\t';
                const std::size_t prefixLen = static_cast<std::size_t>(pe - prefix);
                estimate_row(S, r, g1);

                for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
                    ++counts.pairs;
                    const std::size_t j = g2 - g1 - 1;
                    long long micro;
                    char* p = line_space(out);
                    if (quick_pruned_micro(S.T[j], S.errT[j], S.logSum[j], S.quick, micro)) {
                        ++counts.prunings;
                        // Fixed-size copies: the line buffer has room to spare.
                        std::memcpy(p, prefix, sizeof prefix);
                        p += prefixLen;
                        std::memcpy(p, S.geneText[g2].text, sizeof S.geneText[g2].text);
                        p += S.geneText[g2].length;
                        p = put_text(p, "0\t", 2);
                        p = put_negative_micro(p, micro);
                        p = put_text(p, "\t1.0\t1.0\n", 9);
                    } else {
                        double pMc = 0.0, lda = 0.0, pIt = 0.0;
                        const int flag = exact_pair(S, r, g1, j, pMc, lda, pIt);
                        if (flag != kAllComputed)
                            ++counts.prunings;
                        p = format_line(p, prefix, prefixLen, g2, flag, pMc, lda, pIt);
                    }
                    out.used = static_cast<std::size_t>(p - out.buffer.data());
                }
                // Once per gene row: a row of pairs that all reach the
                // interaction test takes a fraction of a second at most.
                if (int sig = pending_interrupt())
                    die_by_signal(out, sig);
                flush_if_stale(out);
            }
        }
    }
    close_allele_reader(alleles);
    close_result_writer(out);
    return counts;
}
