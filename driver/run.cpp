#include "driver/run.hpp"

#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

// Study runs write their record and manifest through temporary names; a
// path taken by anything but a regular file is refused before the result
// file is touched.
void check_companion_paths(const std::string& resultPath)
{
    try {
        for (const std::string& path : {shard_record_path(resultPath), manifest_path(resultPath)})
            check_replaceable(path, "the file");
    } catch (const FileError& e) {
        end_with(e);
    }
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
    if (study.any) {
        check_companion_paths(paths.output);
        manifest = start_run_manifest(command, paths, study, threshold, isa_name(kernels->isa));
    }
    remove_stale_companions(paths.output);
    write_result_header(paths.output, threshold, study.bgzip);
    if (study.any)
        write_run_manifest(paths, manifest);
    std::cout << "Running..." << std::endl;
    const ScanCounts counts =
        engine == ScanEngine::reference
            ? run_scan_reference(paths, threshold, G, E, geneMoments)
            : run_scan_fast(paths, threshold, G, E, geneMoments, *kernels, scan_options(study));
    if (study.snpRange) {
        ShardRecord record{study.firstSnp, study.lastSnp, counts.pairs, counts.prunings, study.omitPruned, study.bgzip};
        record.lines = counts.lines;
        try {
            write_shard_record(paths.output, record);
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
