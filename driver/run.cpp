#include "driver/run.hpp"

#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/permutation.hpp"
#include "driver/result_file.hpp"
#include "driver/run_manifest.hpp"
#include "driver/startup.hpp"
#include "driver/study_options.hpp"
#include "files/output_path.hpp"
#include "io/error.hpp"
#include "fast/kernels.hpp"
#include "io/globals.hpp"
#include "results/shard_record.hpp"
#include "simd/isa.hpp"

namespace {

ScanOptions scan_options(const StudyOptions& study)
{
    ScanOptions o;
    if (study.snpRange) {
        o.firstSnp = static_cast<unsigned>(study.firstSnp);
        o.endSnp = static_cast<unsigned>(study.lastSnp + 1);
    }
    o.threads = study.threads;
    o.omitPruned = study.omitPruned;
    o.bgzip = study.bgzip;
    // A classic run prints nothing during the scan, terminal or not.
    o.progress = study.any;
    return o;
}

// Study runs write their record, manifest and histogram through temporary
// names; a path taken by anything but a regular file is refused before the
// result file is touched, and so is a histogram named like one of the others
// or a file the run reads.
void check_companion_paths(const RunPaths& paths, const StudyOptions& study)
{
    const std::string& resultPath = paths.output;
    const std::string& histogram = study.histogram;
    const std::string companions[] = {shard_record_path(resultPath), manifest_path(resultPath)};
    for (const std::string& path : {resultPath, companions[0], companions[1], paths.genotype, paths.expression,
                                    paths.allele, study.permuteWithin})
        if (!histogram.empty() && !path.empty() && absolute_path(histogram) == absolute_path(path))
            error("Error: --histogram " + histogram + " would take the place of " + path + ".");
    try {
        for (const std::string& path : {companions[0], companions[1], histogram})
            if (!path.empty())
                check_replaceable(path, "the file");
    } catch (const FileError& e) {
        end_with(e);
    }
}

// What the histogram was made from, as the manifest has the inputs.
HistogramOrigin histogram_origin(const Manifest& manifest, const StudyOptions& study, double threshold,
                                 const std::string& within)
{
    HistogramOrigin o;
    o.inputs = histogram_inputs(manifest);
    o.threshold = threshold;
    o.samples = static_cast<std::uint64_t>(n);
    o.genes = static_cast<std::uint64_t>(ngene);
    o.snpsInFile = static_cast<std::uint64_t>(ps);
    o.firstSnp = study.snpRange ? study.firstSnp : 0;
    o.lastSnp = study.snpRange ? study.lastSnp : (ps > 0 ? static_cast<std::uint64_t>(ps - 1) : 0);
    o.permutations = study.permutations;
    o.seed = study.seed;
    o.within = within.empty() ? "none" : within;
    return o;
}

// The fast scan told to count into h, and the scans under the null; the
// groups are read and an old histogram removed before the result file is made.
void count_into(Histogram& h, ScanOptions& o, const RunPaths& paths, const StudyOptions& study,
                const Manifest& manifest, double threshold)
{
    SampleGroups groups;
    if (!study.permuteWithin.empty())
        groups = read_sample_groups(study.permuteWithin, paths.genotype, static_cast<std::size_t>(n));
    h.origin = histogram_origin(manifest, study, threshold, groups.checksum);
    o.histogram = &h;
    o.groupOf = std::move(groups.groupOf);
    ::unlink(study.histogram.c_str());
}

int run(int argc, char** argv, ScanEngine engine)
{
    const std::vector<std::string> command(argv, argv + argc);
    StudyOptions study;
    if (engine == ScanEngine::fast)
        take_study_options(argc, argv, study);
    // The level is settled before anything is read, so a MORV_ISA the CPU
    // cannot honour costs nothing.
    const Kernels* kernels = nullptr;
    if (engine == ScanEngine::fast) {
        try {
            kernels = &best_kernels();
        } catch (const std::invalid_argument& e) {
            error(std::string("Error: ") + e.what());
        }
    }
    RunPaths paths;
    parse_command_line(argc, argv, paths);
    check_input_files(paths);
    const double threshold = read_threshold();
    report_paths(paths);
    check_snp_range(study, ps);

    GenotypeMatrix G;
    load_genotypes(G, paths);
    ExpressionMatrix E;
    load_expressions(E, paths);
    ublas::matrix<double> geneMoments;
    compute_gene_moments(E, geneMoments);

    // The result file is created only now, so a run that fails during
    // start-up leaves an existing file untouched. A shard's record is
    // written only when the shard is complete, and a manifest only describes
    // the file beside it: those of an earlier run go first, classic or not.
    Manifest manifest;
    ScanOptions options = scan_options(study);
    Histogram histogram;
    if (study.any) {
        check_companion_paths(paths, study);
        manifest = start_run_manifest(command, paths, study, threshold, isa_name(kernels->isa));
    }
    if (!study.histogram.empty())
        count_into(histogram, options, paths, study, manifest, threshold);
    remove_stale_companions(paths.output);
    write_result_header(paths.output, threshold, study.bgzip);
    if (study.any)
        write_run_manifest(paths, manifest);
    std::cout << "Running..." << std::endl;
    const ScanCounts counts =
        engine == ScanEngine::reference
            ? run_scan_reference(paths, threshold, G, E, geneMoments)
            : run_scan_fast(paths, threshold, G, E, geneMoments, *kernels, options);
    if (study.snpRange) {
        ShardRecord record{study.firstSnp, study.lastSnp, counts.pairs, counts.prunings, study.omitPruned, study.bgzip};
        record.lines = counts.lines;
        try {
            write_shard_record(paths.output, record);
        } catch (const FileError& e) {
            end_with(e);
        }
    }
    if (!study.histogram.empty()) {
        try {
            write_histogram(study.histogram, histogram);
            note_histogram(manifest, study.histogram);
        } catch (const FileError& e) {
            end_with(e);
        }
    }
    // Last: the manifest's "complete" speaks for the whole.
    if (study.any) {
        finish_run_manifest(manifest, counts);
        write_run_manifest(paths, manifest);
    }
    std::cout << "#pairs: " << counts.pairs << std::endl;
    std::cout << "#prunings: " << counts.prunings << std::endl;
    return 0;
}

}  // namespace

int morv_main(int argc, char** argv, ScanEngine engine)
{
    try {
        return run(argc, argv, engine);
    } catch (const std::bad_alloc&) {
        // Tables too large for this machine: a message, not an abort.
        error("Error: Aborted due to allocation error.");
    }
}
