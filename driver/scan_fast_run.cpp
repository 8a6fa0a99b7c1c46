// The run of the fast scan: the reference alleles of the SNP range, the plan
// of units, their ordered run on the worker threads (driver/ordered_run), the
// result sink, the progress line and the signals. The lines of each unit are
// the fast engine's (fast/scan_fast.hpp).
#include "driver/scan.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

#include "driver/ordered_run.hpp"
#include "driver/permutation.hpp"
#include "driver/progress.hpp"
#include "driver/result_file.hpp"
#include "driver/result_sink.hpp"
#include "driver/scan_plan.hpp"
#include "fast/pair_sums.hpp"
#include "fast/result_line.hpp"
#include "fast/scan_fast.hpp"
#include "io/allele.hpp"
#include "io/error.hpp"
#include "io/globals.hpp"
#include "results/bgzf_blocks.hpp"
#include "stats/cascade.hpp"

namespace {

// A worker's own: its scan workspace, and its unit's lines before
// compression.
struct Worker {
    explicit Worker(const Kernels& kernels) : scan(kernels) {}

    ScanWorkspace scan;
    TextBuffer text;
    // With a histogram: this worker's counts of the scan under way, added
    // to the histogram's once the scan ends (integer sums: any order).
    std::unique_ptr<HistogramScan> counts;
};

// Compression level of the result lines: the fastest. A screen makes text
// far faster than the default level packs it (three times slower than level
// 1, for files about a tenth smaller).
constexpr int kBgzipLevel = 1;

// One unit of the plan (`unitPairs` pairs): its SNPs' rows, its lines in out
// (compressed when the file is). False when stopped part-way.
bool scan_unit(const ScanTables& T, Worker& W, const GenotypeMatrix& G,
               const std::vector<char>& alleles, unsigned firstSnp, const ScanUnit& unit,
               std::uint64_t unitPairs, bool bgzip, UnitOutput& out, const std::atomic<bool>& stop)
{
    out.size = 0;
    out.pairs = unitPairs;
    out.prunings = 0;
    out.omitted = 0;
    TextBuffer& text = bgzip ? W.text : out.bytes;
    // Sized for the unit's lines once, not doubled up to it: every step of a
    // buffer this large is a fresh mapping to fault in and a copy, in each
    // buffer of each thread.
    if (!T.omitPruned)
        text.resize(std::max(text.size(), unitPairs * kTypicalResultLine + kMaxResultLine));
    LineCounts lines;
    for (unsigned snp = unit.snpBegin; snp < unit.snpEnd; ++snp)
        if (!scan_rows(T, W.scan, G, snp, alleles[snp - firstSnp], unit.rowBegin, unit.rowEnd, text, lines,
                       W.counts.get(), stop))
            return false;
    out.size = lines.size;
    out.prunings = lines.prunings;
    out.omitted = lines.omitted;
    if (bgzip) {
        // Compressed here, on the worker, so the writer only writes.
        out.bytes.clear();
        bgzf_compress_lines(W.text.data(), lines.size, kBgzipLevel, out.bytes);
        out.size = out.bytes.size();
    }
    return true;
}

// One unit of a scan of permuted genotypes: its pairs counted, no text.
bool count_unit(const ScanTables& T, Worker& W, const GenotypeMatrix& G, const std::vector<char>& alleles,
                unsigned firstSnp, const ScanUnit& unit, std::uint64_t unitPairs, UnitOutput& out,
                const std::atomic<bool>& stop)
{
    out.size = 0;
    out.pairs = unitPairs;
    out.prunings = 0;
    out.omitted = 0;
    for (unsigned snp = unit.snpBegin; snp < unit.snpEnd; ++snp)
        if (!count_rows(T, W.scan, G, snp, alleles[snp - firstSnp], unit.rowBegin, unit.rowEnd, *W.counts, stop))
            return false;
    return true;
}

// The workers' counts added into `scan` and cleared; their workspaces made
// to classify their next SNP afresh, as the next scan's genotypes differ.
void collect_counts(std::vector<std::unique_ptr<Worker>>& workers, HistogramScan& scan)
{
    for (std::unique_ptr<Worker>& w : workers) {
        if (!w)
            continue;
        add_scan(scan, *w->counts);
        *w->counts = HistogramScan();
        w->scan.snp = UINT_MAX;
    }
}

// The genotype table with row s taken from row rows[s].
void permute_rows(const GenotypeMatrix& G, const std::vector<std::size_t>& rows, GenotypeMatrix& permuted)
{
    permuted.resize(G.size1(), G.size2(), false);
    const std::size_t width = G.size2();
    for (std::size_t s = 0; s < rows.size(); ++s)
        std::copy_n(&G.data()[rows[s] * width], width, &permuted.data()[s * width]);
}

// The reference alleles of SNPs [first, end), looked up in order. A fault
// ends the list at its SNP; its message is kept for after the earlier SNPs.
const char* read_alleles(const RunPaths& paths, unsigned first, unsigned end, std::vector<char>& alleles)
{
    AlleleReader reader;
    const char* fault = nullptr;
    for (unsigned i = first; i < end && !fault; ++i) {
        char allele = ' ';
        fault = find_allele(reader, i, allele, paths.allele.c_str());
        if (!fault)
            alleles.push_back(allele);
    }
    close_allele_reader(reader);
    return fault;
}

}  // namespace

ScanCounts run_scan_fast(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                         ExpressionMatrix& E, ublas::matrix<double>& geneMoments,
                         const Kernels& kernels, const ScanOptions& options)
{
    ResultSink sink;
    open_result_sink(sink, paths.output, options.bgzip);
    install_interrupt_handlers();

    const unsigned snps = static_cast<unsigned>(std::max(ps, 0));
    const unsigned first = std::min(options.firstSnp, snps);
    const unsigned end = std::min(options.endSnp, snps);
    std::vector<char> alleles;
    const char* fault = read_alleles(paths, first, end, alleles);
    const unsigned scanEnd = first + static_cast<unsigned>(alleles.size());

    const unsigned threads = std::max(1u, options.threads);
    ScanTables T;
    prepare_tables(T, kernels, threshold, options.omitPruned, E, geneMoments, scanEnd - first, threads);
    const std::uint64_t total = std::uint64_t(scanEnd - first) * pairs_per_snp(T.genes);
    const ScanPlan plan = plan_scan(first, scanEnd, T.genes, unit_target_pairs(total, threads), kRowBlock);

    // A worker's storage, made by its own thread on first use.
    std::vector<std::unique_ptr<Worker>> workers(threads);
    const auto worker = [&](unsigned w) -> Worker& {
        if (!workers[w]) {
            workers[w] = std::make_unique<Worker>(kernels);
            make_workspace(T, workers[w]->scan);
            if (options.histogram)
                workers[w]->counts = std::make_unique<HistogramScan>();
        }
        return *workers[w];
    };
    const UnitWork work = [&](std::size_t u, unsigned w, UnitOutput& out, const std::atomic<bool>& stop) {
        const ScanUnit unit = unit_at(plan, u);
        return scan_unit(T, worker(w), G, alleles, first, unit, unit_pairs(plan, unit), options.bgzip, out,
                         stop);
    };
    const UnitSink write = [&](const UnitOutput& out) { return append_bytes(sink, out.bytes.data(), out.size); };
    // The line counts the scans under the null too.
    const unsigned nullScans = options.histogram ? options.histogram->origin.permutations : 0;
    const Progress progress =
        start_progress(options.progress, plan_pairs(plan) * (nullScans + 1), isa_name(kernels.isa));
    show_progress(progress, 0);
    std::uint64_t scanned = 0;  // pairs of the scans before this one
    const ProgressTick tick = [&](std::uint64_t done) { show_progress(progress, scanned + done); };

    RunOutcome outcome;
    try {
        outcome = run_in_order(plan.units, threads, work, write, tick);
    } catch (const std::runtime_error&) {
        // The compressor refused a block: the file cannot be written.
        output_write_failed();
    }
    // The line stays up for the scans under the null, if any follow.
    if (outcome.end != RunEnd::finished || fault || nullScans == 0)
        end_progress(progress);
    if (outcome.end == RunEnd::interrupted)
        die_by_signal(sink, outcome.signal);
    if (outcome.end == RunEnd::writeFailed)
        output_write_failed();
    if (fault)
        error(fault);
    close_result_sink(sink);
    const ScanCounts counts{outcome.pairs, outcome.prunings, outcome.pairs - outcome.omitted};
    if (!options.histogram)
        return counts;

    Histogram& h = *options.histogram;
    h.scans.assign(nullScans + 1, HistogramScan());
    collect_counts(workers, h.scans[0]);
    GenotypeMatrix permuted;
    const UnitWork count = [&](std::size_t u, unsigned w, UnitOutput& out, const std::atomic<bool>& stop) {
        const ScanUnit unit = unit_at(plan, u);
        return count_unit(T, worker(w), permuted, alleles, first, unit, unit_pairs(plan, unit), out, stop);
    };
    const UnitSink none = [](const UnitOutput&) { return true; };
    for (unsigned k = 1; k <= nullScans; ++k) {
        permute_rows(G, sample_permutation(h.origin.seed, k, G.size1(), options.groupOf), permuted);
        scanned += plan_pairs(plan);
        const RunOutcome null = run_in_order(plan.units, threads, count, none, tick);
        if (null.end == RunEnd::interrupted) {
            end_progress(progress);
            die_by_signal(sink, null.signal);
        }
        collect_counts(workers, h.scans[k]);
    }
    if (nullScans > 0)
        end_progress(progress);
    return counts;
}
