#pragma once

#include <string>
#include <vector>

#include "files/manifest.hpp"
#include "results/histogram.hpp"

// What a result file's manifest says of it, for the programs that read it.
// A result without one (a classic run, or an older morv) can still be read,
// with a warning that it cannot be checked.
struct ResultOrigin {
    bool known = false;  // it has a manifest
    Manifest manifest;
    bool complete = true, omitPruned = false;
};

// Reads `results`' manifest; adds to `warnings` what cannot be checked or
// looks partial. Throws ProgramError when the manifest is malformed.
ResultOrigin read_result_origin(const std::string& results, std::vector<std::string>& warnings);

// morv-annotate names indices by the tables of a prepared folder: the folder
// must be the one whose genotype, expression and allele files the run read.
// Throws ProgramError naming the file that differs; adds a warning when either
// side has no manifest to compare.
void check_prepared_folder(const ResultOrigin& origin, const std::string& results, const std::string& dir,
                           std::vector<std::string>& warnings);

// A histogram read beside a result file must be of the run that wrote it:
// the same inputs, threshold, samples, genes and SNP range as the result's
// manifest records. Throws ProgramError naming what differs; adds a warning
// when the manifest cannot tell.
void check_histogram_origin(const ResultOrigin& origin, const HistogramOrigin& h, const std::string& results,
                            const std::string& histogram, std::vector<std::string>& warnings);

// The report programs' warnings: "Warning: " and one line each, on standard error.
void print_warnings(const std::vector<std::string>& warnings);
