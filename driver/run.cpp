#include "driver/run.hpp"

#include <iostream>
#include <new>

#include "driver/result_file.hpp"
#include "driver/startup.hpp"
#include "io/error.hpp"

namespace {

int run(int argc, char** argv, ScanEngine engine)
{
    RunPaths paths;
    parse_command_line(argc, argv, paths);
    check_input_files(paths);
    const double threshold = read_threshold();
    report_paths(paths);

    GenotypeMatrix G;
    load_genotypes(G, paths);
    ExpressionMatrix E;
    load_expressions(E, paths);
    ublas::matrix<double> geneMoments;
    compute_gene_moments(E, geneMoments);

    // The result file is created only now, so a run that fails during
    // start-up leaves an existing file untouched.
    write_result_header(paths.output, threshold);
    std::cout << "Running..." << std::endl;
    const ScanCounts counts =
        engine == ScanEngine::reference
            ? run_scan_reference(paths, threshold, G, E, geneMoments)
            : run_scan_fast(paths, threshold, G, E, geneMoments, best_kernels());
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
