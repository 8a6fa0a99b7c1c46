#pragma once

// The fast engine's unit scanner: the result lines of a range of pairs as
// text, byte for byte the reference scan's (how: fast/scan_fast.cpp). A run
// builds the tables once; each thread scans the rows of one SNP at a time on
// a workspace of its own, into text of its own. Which ranges, on how many
// threads, and where the text goes is the caller's.

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fast/aligned_doubles.hpp"
#include "fast/interaction_fast.hpp"
#include "fast/kernels.hpp"
#include "fast/mc_quick.hpp"
#include "fast/result_line.hpp"
#include "io/matrices.hpp"
#include "results/histogram.hpp"
#include "results/large_buffers.hpp"

// The genotype classes of one SNP, and the samples in class order (stable, so
// each class keeps sample order).
struct SnpClasses {
    std::vector<unsigned char> ofSample;
    std::vector<std::size_t> order;
    std::size_t begin[4] = {0, 0, 0, 0};  // class k occupies order[begin[k] .. begin[k+1])
    double counts[3] = {0, 0, 0};
};

// Per class and gene, what the group statistics derive from one gene alone.
struct GeneClassStats {
    std::vector<double> sum[3], squares[3], mean[3], var[3];
};

// What every thread reads and none writes: built once per run.
struct ScanTables {
    const Kernels* k = nullptr;
    std::size_t samples = 0, genes = 0, panels = 0, width = 0;
    double N = 0.0;
    double threshold = 0.0;
    double ldaCutoff = 0.0;
    QuickThreshold quick;
    bool omitPruned = false;
    // log10 of the expression table, paneled, in sample order.
    AlignedDoubles logs;
    std::vector<GeneText> geneText;
    std::vector<double> mean3, var3;
    // ln(det3) * N per pair in visiting order, exact; empty when not kept.
    std::vector<double, LargeAllocator<double>> wholeTerm;
};

// One thread's working storage: the current SNP and block of genes.
struct ScanWorkspace {
    explicit ScanWorkspace(const Kernels& kernels) : interaction(kernels) {}

    unsigned snp = UINT_MAX;  // the SNP `sorted` and `st` hold
    AlignedDoubles sorted;    // the log table with samples in class order
    SnpClasses classes;
    GeneClassStats st;
    AlignedDoubles cross[4];
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

// The tables of a run over `snps` SNPs at `threshold`: log10 of the
// expression table, the genes' texts and whole-sample moments, and the
// whole-sample terms of every pair when there is more than one SNP and they
// fit (computed on `threads` threads). omitPruned: the pairs the MC test
// prunes get no line.
void prepare_tables(ScanTables& T, const Kernels& kernels, double threshold, bool omitPruned,
                    ExpressionMatrix& E, ublas::matrix<double>& geneMoments, unsigned snps,
                    unsigned threads);

// Sizes a thread's workspace for the tables.
void make_workspace(const ScanTables& T, ScanWorkspace& W);

// Where a text of result lines stands: its bytes so far, the pairs stopped
// before the interaction test, and those left without a line (omitPruned).
struct LineCounts {
    std::size_t size = 0;
    std::uint64_t prunings = 0, omitted = 0;
};

// The result lines of SNP `snp`, whose reference allele is `allele`, for the
// first genes g1 in [rowBegin, rowEnd) (rowBegin a multiple of kRowBlock),
// each against every later gene: appended to text at lines.size, the text
// grown as needed, and counted in lines; each pair counted into *counts as
// well, when given, whatever omitPruned leaves out. False when `stop` was
// set between rows; lines then stands as before.
bool scan_rows(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp,
               char allele, std::size_t rowBegin, std::size_t rowEnd, TextBuffer& text,
               LineCounts& lines, HistogramScan* counts, const std::atomic<bool>& stop);

// The same pairs counted into `counts` only, without their text: the scans
// of permuted genotypes, which write no line.
bool count_rows(const ScanTables& T, ScanWorkspace& W, const GenotypeMatrix& G, unsigned snp, char allele,
                std::size_t rowBegin, std::size_t rowEnd, HistogramScan& counts, const std::atomic<bool>& stop);
