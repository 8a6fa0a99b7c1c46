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
                       stop))
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
    const UnitWork work = [&](std::size_t u, unsigned w, UnitOutput& out, const std::atomic<bool>& stop) {
        if (!workers[w]) {
            workers[w] = std::make_unique<Worker>(kernels);
            make_workspace(T, workers[w]->scan);
        }
        const ScanUnit unit = unit_at(plan, u);
        return scan_unit(T, *workers[w], G, alleles, first, unit, unit_pairs(plan, unit), options.bgzip, out,
                         stop);
    };
    const UnitSink write = [&](const UnitOutput& out) { return append_bytes(sink, out.bytes.data(), out.size); };
    const Progress progress = start_progress(options.progress, plan_pairs(plan), isa_name(kernels.isa));
    show_progress(progress, 0);
    const ProgressTick tick = [&](std::uint64_t done) { show_progress(progress, done); };

    RunOutcome outcome;
    try {
        outcome = run_in_order(plan.units, threads, work, write, tick);
    } catch (const std::runtime_error&) {
        // The compressor refused a block: the file cannot be written.
        output_write_failed();
    }
    end_progress(progress);
    if (outcome.end == RunEnd::interrupted)
        die_by_signal(sink, outcome.signal);
    if (outcome.end == RunEnd::writeFailed)
        output_write_failed();
    if (fault)
        error(fault);
    close_result_sink(sink);
    return ScanCounts{outcome.pairs, outcome.prunings, outcome.pairs - outcome.omitted};
}
