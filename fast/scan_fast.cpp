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
//  - lines are formatted exactly without printf, into large blocks of text;
//  - the tables every thread reads are built once; each thread scans on a
//    workspace of its own, so the caller can cut the SNPs and gene rows into
//    units that any number of threads compute side by side.
#include "fast/scan_fast.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "exact/chi_squared_tail.hpp"
#include "exact/fixed_format.hpp"
#include "fast/pair_sums.hpp"
#include "io/globals.hpp"
#include "stats/cascade.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

namespace {

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

// The whole-sample terms ln(det3)*N are the same for every SNP; with more
// than one SNP to scan they are computed once, up front, when the table
// stays this small.
constexpr std::size_t kWholeTermBytes = std::size_t(32) << 20;

double class_covariance(const ScanTables& T, const ScanWorkspace& W, int k, std::size_t r,
                        std::size_t g1, std::size_t g2)
{
    const double c = W.classes.counts[k];
    double cov = W.cross[k][r * T.width + g2] / c;
    return cov - (W.st.mean[k][g1] * W.st.sum[k][g2]) / c;
}

// ln(det3) * N of one pair, exact, from whole-sample cross sums of its row.
double whole_term(const ScanTables& T, const double* cross3, std::size_t r, std::size_t g1,
                  std::size_t g2)
{
    const double cov = cross3[r * T.width + g2] / T.N - T.mean3[g1] * T.mean3[g2];
    return std::log(covariance_det(T.var3[g1], T.var3[g2], cov)) * T.N;
}

// The estimates of one row g1 against partners g1+1 .. genes-1, batched so
// the arithmetic and the logarithms vectorise.
void estimate_row(const ScanTables& T, ScanWorkspace& W, std::size_t r, std::size_t g1)
{
    const std::size_t first = g1 + 1, count = T.genes - first;
    const double* cnt = W.classes.counts;
    const FastKernels& fast = T.k->fast;
    for (int k = 0; k < 3; ++k) {
        fast.class_determinants(W.cross[k].get() + r * T.width + first, W.st.sum[k].data() + first,
                                W.st.var[k].data() + first, W.st.mean[k][g1], W.st.var[k][g1], cnt[k],
                                count, W.det[k].data());
        fast.log_batch(W.det[k].data(), W.lg[k].data(), count);
    }
    if (!T.wholeTerm.empty()) {
        std::memcpy(W.lg[3].data(), &T.wholeTerm[pair_index(T.genes, g1, first)], count * sizeof(double));
    } else {
        fast.whole_determinants(W.cross[3].get() + r * T.width + first, T.mean3.data() + first,
                                T.var3.data() + first, T.mean3[g1], T.var3[g1], T.N, count,
                                W.det[3].data());
        fast.log_batch(W.det[3].data(), W.lg[3].data(), count);
        for (std::size_t j = 0; j < count; ++j)
            W.lg[3][j] *= T.N;
    }
    fast.statistic_estimates(W.lg[3].data(), W.lg[0].data(), W.lg[1].data(), W.lg[2].data(), cnt,
                             count, W.T.data(), W.errT.data(), W.sum.data());
    fast.log_batch(W.sum.data(), W.logSum.data(), count);
}

// The pair evaluated the way the reference does: exact statistic and tail,
// then the LDA and the interaction test when the cascade reaches them. The
// class determinants of the row (entry j) are already exact; so is the
// whole-sample term when the table of them is kept.
int exact_pair(const ScanTables& T, ScanWorkspace& W, std::size_t r, std::size_t g1, std::size_t j,
               double& pMc, double& lda, double& pIt)
{
    const std::size_t g2 = g1 + 1 + j;
    const double* cnt = W.classes.counts;
    double stat = !T.wholeTerm.empty() ? W.lg[3][j] : whole_term(T, W.cross[3].get(), r, g1, g2);
    stat = stat - std::log(W.det[0][j]) * cnt[0];
    stat = stat - std::log(W.det[1][j]) * cnt[1];
    stat = stat - std::log(W.det[2][j]) * cnt[2];
    pMc = mc_pvalue_with(stat, chi_squared_tail10);
    if (!(T.threshold > pMc))
        return kPrunedByMc;

    // The log-expression columns in sample order; a row's first gene is
    // gathered once for all its partners.
    const std::size_t samples = T.samples;
    if (W.x1Gene != g1) {
        for (std::size_t s = 0; s < samples; ++s)
            W.x1[s] = T.logs[panel_index(samples, s, g1)];
        W.x1Gene = g1;
    }
    for (std::size_t s = 0; s < samples; ++s)
        W.x2[s] = T.logs[panel_index(samples, s, g2)];
    // The LDA reads only the class rows of the group statistics.
    for (int k = 0; k < 3; ++k) {
        W.groupStats(k, 0) = W.st.sum[k][g1];
        W.groupStats(k, 1) = W.st.sum[k][g2];
        W.groupCov(k, 0) = W.st.var[k][g1];
        W.groupCov(k, 1) = W.st.var[k][g2];
        W.groupCov(k, 2) = class_covariance(T, W, k, r, g1, g2);
        W.groupCounts(k) = cnt[k];
    }
    prepare_pair(W.x1.data(), W.x2.data(), W.classes.ofSample.data(), samples, W.interaction);
    double beta[6];
    lda = lda_coefficients(W.groupStats, W.groupCov, W.groupCounts, beta)
              ? lda_log_likelihood_fast(W.interaction, beta)
              : -9999.0;
    if (!(T.ldaCutoff > lda))
        return kPrunedByLda;
    double llR = 0.0, llF = 0.0, itStat = 0.0;
    pIt = interaction_test_fast(W.interaction, llR, llF, itStat);
    return kAllComputed;
}

// Per SNP: classes, samples in class order, class sums.
void prepare_snp(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp,
                 char allele)
{
    classify_samples(G, snp, allele, T.samples, W.classes);
    for (std::size_t s = 0; s < T.samples; ++s) {
        const std::size_t from = W.classes.order[s];
        for (std::size_t p = 0; p < T.panels; ++p)
            std::memcpy(&W.sorted[(p * T.samples + s) * kPanel], &T.logs[(p * T.samples + from) * kPanel],
                        kPanel * sizeof(double));
    }
    gene_class_stats(T.k->fast, W.sorted.get(), T.samples, T.panels, W.classes, W.st);
    W.snp = snp;
    W.x1Gene = static_cast<std::size_t>(-1);
}

// Room for one more line in the unit's text.
char* line_space(TextBuffer& text, std::size_t used)
{
    if (text.size() - used < kMaxResultLine)
        text.resize(std::max(2 * text.size(), used + 64 * kMaxResultLine));
    return text.data() + used;
}

// ln(det3) * N of every pair, exact, row block by row block: what the scan
// of each SNP reads instead of computing it again. Threads take every
// threads-th block; each entry is computed alone, so the table is the same.
void build_whole_terms(ScanTables& T, unsigned threads)
{
    const std::size_t genes = T.genes;
    T.wholeTerm.resize(pairs_per_snp(genes));
    const auto blocks = [&T, genes, threads](unsigned t) {
        AlignedDoubles cross3 = aligned_doubles(kRowBlock * T.width + kVectorPad);
        for (std::size_t row0 = t * kRowBlock; row0 < genes - 1; row0 += threads * kRowBlock) {
            T.k->fast.cross_sums_block(T.logs.get(), T.samples, 0, T.samples, row0, row0 / kPanel, T.panels,
                                       cross3.get(), T.width);
            const std::size_t rowEnd = std::min(row0 + kRowBlock, genes - 1);
            for (std::size_t g1 = row0; g1 < rowEnd; ++g1)
                for (std::size_t g2 = g1 + 1; g2 < genes; ++g2)
                    T.wholeTerm[pair_index(genes, g1, g2)] = whole_term(T, cross3.get(), g1 - row0, g1, g2);
        }
    };
    // An exception must not leave a thread (that ends the process) nor skip
    // the joins: the first one is kept and rethrown once all have ended.
    std::mutex m;
    std::exception_ptr failure;
    const auto guarded = [&](unsigned t) {
        try {
            blocks(t);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(m);
            failure = failure ? failure : std::current_exception();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads);
    unsigned t = 1;
    try {
        for (; t < threads; ++t)
            pool.emplace_back(guarded, t);
    } catch (const std::exception&) {
        // The system refused a thread: this one takes the blocks of those
        // that did not start.
    }
    for (unsigned rest = t; rest < threads; ++rest)
        guarded(rest);
    guarded(0);
    for (std::thread& thread : pool)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace

void prepare_tables(ScanTables& T, const Kernels& kernels, double threshold, bool omitPruned,
                    ExpressionMatrix& E, ublas::matrix<double>& geneMoments, unsigned snps,
                    unsigned threads)
{
    T.k = &kernels;
    T.samples = static_cast<std::size_t>(n);
    T.genes = static_cast<std::size_t>(ngene);
    T.N = static_cast<double>(static_cast<unsigned>(n));
    T.threshold = threshold;
    T.ldaCutoff = lda_cutoff();
    T.quick = quick_threshold(threshold);
    T.omitPruned = omitPruned;

    // log10 of every expression value, once per run; each workspace holds
    // the same samples in class order, per SNP.
    T.panels = panel_count(T.genes);
    T.width = T.panels * kPanel;
    T.logs = aligned_doubles(T.samples * T.width);
    for (std::size_t s = 0; s < T.samples; ++s)
        for (std::size_t g = 0; g < T.genes; ++g)
            T.logs[panel_index(T.samples, s, g)] = std::log10(E(s, g));

    T.geneText.resize(T.genes);
    for (std::size_t g = 0; g < T.genes; ++g) {
        char* end = put_uint(T.geneText[g].text, g);
        *end++ = '\t';
        T.geneText[g].length = static_cast<std::size_t>(end - T.geneText[g].text);
    }
    T.mean3.resize(T.width + kVectorPad);
    T.var3.resize(T.width + kVectorPad);
    for (std::size_t g = 0; g < T.genes; ++g) {
        T.mean3[g] = geneMoments(g, 0);
        T.var3[g] = geneMoments(g, 1) - geneMoments(g, 0) * geneMoments(g, 0);
    }
    const std::uint64_t pairsPerSnp = pairs_per_snp(T.genes);
    if (snps > 1 && pairsPerSnp > 0 && pairsPerSnp * sizeof(double) <= kWholeTermBytes)
        build_whole_terms(T, threads);
}

void make_workspace(const ScanTables& T, ScanWorkspace& W)
{
    W.sorted = aligned_doubles(T.samples * T.width);
    for (auto& buffer : W.cross)
        buffer = aligned_doubles(kRowBlock * T.width + kVectorPad);
    for (int k = 0; k < 4; ++k) {
        W.det[k].resize(T.width + kVectorPad);
        W.lg[k].resize(T.width + kVectorPad);
    }
    W.T.resize(T.width + kVectorPad);
    W.errT.resize(T.width + kVectorPad);
    W.sum.resize(T.width + kVectorPad);
    W.logSum.resize(T.width + kVectorPad);
    W.x1.resize(T.samples);
    W.x2.resize(T.samples);
    W.groupStats.resize(3, 2, false);
    W.groupCov.resize(3, 3, false);
    W.groupCounts.resize(3, false);
}

namespace {

// The histogram's counts of an exact pair: the bins of the texts its line
// prints (or would), so a count matches the result file's value exactly.
void count_exact(HistogramScan& h, int flag, double pMc, double pIt)
{
    char text[fixed6_max_chars];
    count_printed(h.mc, text, format_fixed6(text, std::log10(pMc)));
    if (flag == kAllComputed)
        count_printed(h.it, text, format_fixed6(text, std::log10(pIt)));
    else
        ++h.it.untested;
}

// The scan of scan_rows, its lines written (Lines) and each pair counted into
// *h (Counts); a plain run instantiates it without counts, so it does no
// more per pair than before there was a histogram.
template <bool Lines, bool Counts>
bool scan_rows_as(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp, char allele,
                  std::size_t rowBegin, std::size_t rowEnd, TextBuffer& text, LineCounts& lines,
                  HistogramScan* h, const std::atomic<bool>& stop)
{
    if (W.snp != snp)
        prepare_snp(T, W, G, snp, allele);
    const std::size_t genes = T.genes;
    const FastKernels& fast = T.k->fast;
    char prefix[32];  // "i\tg1\t": at most 22 characters
    std::size_t used = lines.size;
    // Counted here, added to lines once: a worker's counts sit next to
    // another's, and a store per pair would bounce their cache lines.
    std::uint64_t prunings = 0, omitted = 0;
    for (std::size_t row0 = rowBegin; row0 < rowEnd; row0 += kRowBlock) {
        const std::size_t p0 = row0 / kPanel;
        for (int k = 0; k < 3; ++k)
            fast.cross_sums_block(W.sorted.get(), T.samples, W.classes.begin[k], W.classes.begin[k + 1],
                                  row0, p0, T.panels, W.cross[k].get(), T.width);
        if (T.wholeTerm.empty())
            fast.cross_sums_block(T.logs.get(), T.samples, 0, T.samples, row0, p0, T.panels,
                                  W.cross[3].get(), T.width);

        const std::size_t blockEnd = std::min(row0 + kRowBlock, rowEnd);
        for (std::size_t g1 = row0; g1 < blockEnd; ++g1) {
            if (stop.load(std::memory_order_relaxed))
                return false;
            const std::size_t r = g1 - row0;
            std::size_t prefixLen = 0;
            if constexpr (Lines) {
                char* pe = put_uint(prefix, snp);
                *pe++ = '\t';
                pe = put_uint(pe, g1);
                *pe++ = '\t';
                prefixLen = static_cast<std::size_t>(pe - prefix);
            }
            estimate_row(T, W, r, g1);
            if constexpr (Counts)
                h->pairs += genes - g1 - 1;

            for (std::size_t g2 = g1 + 1; g2 < genes; ++g2) {
                const std::size_t j = g2 - g1 - 1;
                long long micro;
                char* p = Lines ? line_space(text, used) : nullptr;
                if (quick_pruned_micro(W.T[j], W.errT[j], W.logSum[j], T.quick, micro)) {
                    ++prunings;
                    if constexpr (Counts) {
                        ++h->mc.bins[bin_of_micro(micro)];
                        ++h->it.untested;
                    }
                    if (!Lines)
                        continue;
                    if (T.omitPruned) {
                        ++omitted;
                        continue;
                    }
                    // Fixed-size copies: the line buffer has room to spare.
                    std::memcpy(p, prefix, sizeof prefix);
                    p += prefixLen;
                    std::memcpy(p, T.geneText[g2].text, sizeof T.geneText[g2].text);
                    p += T.geneText[g2].length;
                    p = put_text(p, "0\t", 2);
                    p = put_negative_micro(p, micro);
                    p = put_text(p, "\t1.0\t1.0\n", 9);
                } else {
                    double pMc = 0.0, lda = 0.0, pIt = 0.0;
                    const int flag = exact_pair(T, W, r, g1, j, pMc, lda, pIt);
                    if (flag != kAllComputed)
                        ++prunings;
                    if constexpr (Counts)
                        count_exact(*h, flag, pMc, pIt);
                    if (!Lines)
                        continue;
                    if (flag == kPrunedByMc && T.omitPruned) {
                        ++omitted;
                        continue;
                    }
                    p = format_line(p, prefix, prefixLen, g2, flag, pMc, lda, pIt);
                }
                used = static_cast<std::size_t>(p - text.data());
            }
        }
    }
    lines.size = used;
    lines.prunings += prunings;
    lines.omitted += omitted;
    return true;
}

}  // namespace

bool scan_rows(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp,
               char allele, std::size_t rowBegin, std::size_t rowEnd, TextBuffer& text,
               LineCounts& lines, HistogramScan* counts, const std::atomic<bool>& stop)
{
    if (!counts)
        return scan_rows_as<true, false>(T, W, G, snp, allele, rowBegin, rowEnd, text, lines, nullptr, stop);
    return scan_rows_as<true, true>(T, W, G, snp, allele, rowBegin, rowEnd, text, lines, counts, stop);
}

bool count_rows(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp, char allele,
                std::size_t rowBegin, std::size_t rowEnd, HistogramScan& counts, const std::atomic<bool>& stop)
{
    TextBuffer none;
    LineCounts lines;
    return scan_rows_as<false, true>(T, W, G, snp, allele, rowBegin, rowEnd, none, lines, &counts, stop);
}
