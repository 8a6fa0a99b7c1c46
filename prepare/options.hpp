#pragma once

#include <map>
#include <string>
#include <vector>

#include "prepare/expression_table.hpp"
#include "prepare/transform.hpp"
#include "prepare/vcf_reader.hpp"

struct Options {
    std::string vcf, expression, out, sample_map, genes, samples;
    SnpFilter filter;
    Scale scale = Scale::raw;
    std::string covariates;
    ValueSettings values;  // its covariates are read later, from `covariates`
    std::size_t bed_columns = 0;  // 0: the expression file's header says
    std::map<std::string, std::string> given;  // option -> value as on the command line, for the manifest
};

extern const char* const kUsage;

// The arguments after the program name. Throws ProgramError on a bad option.
Options parse_options(const std::vector<std::string>& args);
