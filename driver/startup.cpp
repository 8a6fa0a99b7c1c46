#include "driver/startup.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <unistd.h>

#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"

namespace {

void print_usage(const char* program)
{
    std::cerr << "Usage: " << program
              << " [-h] -g filenameG -e filenameE -a filenameA -o filenameO" << std::endl;
}

[[noreturn]] void usage_error(const char* program, const char* message)
{
    if (message)
        std::cerr << message << std::endl;
    print_usage(program);
    std::exit(1);
}

}  // namespace

void parse_command_line(int argc, char** argv, RunPaths& paths)
{
    const char* program = argc > 0 ? argv[0] : "morv";
    int opt;
    while ((opt = getopt(argc, argv, "hg:e:a:o:")) != -1) {
        switch (opt) {
        case 'g': paths.genotype = optarg; break;
        case 'e': paths.expression = optarg; break;
        case 'a': paths.allele = optarg; break;
        case 'o': paths.output = optarg; break;
        case 'h':
            std::cerr << "HELP" << std::endl;
            print_usage(program);
            std::exit(0);
        default:
            // getopt has already described the fault.
            usage_error(program, nullptr);
        }
    }
    if (optind != argc)
        usage_error(program, "Error: Wrong number of arguments.");
    std::cout << "# of arguments: " << (argc - optind) << std::endl;

    if (paths.genotype.empty())
        usage_error(program, "Error: Specify \"-g filenameG\"");
    if (paths.expression.empty())
        usage_error(program, "Error: Specify \"-e filenameE\"");
    if (paths.allele.empty())
        usage_error(program, "Error: Specify \"-a filenameA\"");
    if (paths.output.empty())
        usage_error(program, "Error: Specify \"-o filenameO\"");
}

void check_input_files(const RunPaths& paths)
{
    for (const std::string* path : {&paths.genotype, &paths.expression, &paths.allele}) {
        std::ifstream probe(*path);
        if (!probe) {
            std::cerr << "Error: File \"" << *path << "\" not found." << std::endl;
            std::exit(1);
        }
    }
}

double read_threshold()
{
    std::cout << "threshold of MC test's pvalue?: ";
    double threshold = 0.0;
    if (!(std::cin >> threshold)) {
        std::cerr << "Error: Aborted due to input error.\n";
        std::exit(1);
    }
    return threshold;
}

void report_paths(const RunPaths& paths)
{
    std::cout << "check the files..." << std::endl;
    std::cout << "genotype  : " << paths.genotype << std::endl;
    std::cout << "expression: " << paths.expression << std::endl;
    std::cout << "allele    : " << paths.allele << std::endl;
    std::cout << "output    : " << paths.output << std::endl;
    std::cout << "check the size of the input data..." << std::endl;
    get_parmeters(paths.genotype.c_str(), paths.expression.c_str());
    std::cout << "#SNPs : " << ps << std::endl;
    std::cout << "#genes: " << ngene << std::endl;
    std::cout << "n     : " << n << std::endl;
}

void load_genotypes(GenotypeMatrix& G, const RunPaths& paths)
{
    std::cout << "read genotypes..." << " ";
    G.resize(n, 2 * static_cast<std::size_t>(ps), false);
    read_genotype(G, paths.genotype.c_str());
    // Small data sets echo what exists: up to two SNPs of sample 0.
    if (n > 0) {
        std::size_t shown = std::min<std::size_t>(4, G.size2());
        for (std::size_t c = 0; c < shown; ++c)
            std::cout << G(0, c);
    }
    std::cout << "..." << std::endl;
}

void load_expressions(ExpressionMatrix& E, const RunPaths& paths)
{
    std::cout << "read expressions..." << " ";
    E.resize(n, ngene, false);
    read_expression(E, paths.expression.c_str());
    // Gene 0 in up to three samples, blank-separated.
    if (ngene > 0) {
        int shown = std::min(3, n);
        for (int s = 0; s < shown; ++s)
            std::cout << (s ? " " : "") << E(s, 0);
    }
    std::cout << "..." << std::endl;
}

void compute_gene_moments(const ExpressionMatrix& E, ublas::matrix<double>& moments)
{
    moments = ublas::zero_matrix<double>(E.size2(), 2);
    const double count = static_cast<double>(n);
    for (std::size_t g = 0; g < E.size2(); ++g) {
        for (std::size_t s = 0; s < E.size1(); ++s) {
            const double L = std::log10(E(s, g));
            moments(g, 0) += L / count;
            moments(g, 1) += (L * L) / count;
        }
    }
}
