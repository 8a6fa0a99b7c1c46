#pragma once

#include <string>

#include "io/matrices.hpp"

// The four file names of a run, as typed on the command line.
struct RunPaths {
    std::string genotype;
    std::string expression;
    std::string allele;
    std::string output;
};

// Parses the options, reports the argument count and checks that every file
// option was given. Ends the process on -h (status 0) and on any fault.
void parse_command_line(int argc, char** argv, RunPaths& paths);

// Checks that the three input files open for reading, in the order
// genotype, expression, allele.
void check_input_files(const RunPaths& paths);

// Prompts for the MC p-value threshold and reads it from standard input.
double read_threshold();

// Echoes the paths, measures the inputs and loads both tables, echoing a few
// loaded values as it goes.
void report_paths(const RunPaths& paths);
void load_genotypes(GenotypeMatrix& G, const RunPaths& paths);
void load_expressions(ExpressionMatrix& E, const RunPaths& paths);

// Per gene: mean over the samples of log10 expression (column 0) and of its
// square (column 1). Each term is divided by n before it is added, in sample
// order, because the MC test relies on exactly these values.
void compute_gene_moments(const ExpressionMatrix& E, ublas::matrix<double>& moments);
