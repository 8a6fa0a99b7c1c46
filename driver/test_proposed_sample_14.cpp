// Entry point of morv: start-up (options, checks, threshold, loading), then
// the scan over SNPs and gene pairs, then the counts.
#include <iostream>
#include <new>

#include "driver/result_file.hpp"
#include "driver/scan.hpp"
#include "driver/startup.hpp"
#include "io/error.hpp"

namespace {

int run(int argc, char** argv)
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
    const ScanCounts counts = run_scan(paths, threshold, G, E, geneMoments);
    std::cout << "#pairs: " << counts.pairs << std::endl;
    std::cout << "#prunings: " << counts.prunings << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Tables too large for this machine: a message, not an abort.
        error("Error: Aborted due to allocation error.");
    }
}
