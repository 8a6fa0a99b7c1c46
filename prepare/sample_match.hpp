#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

// The samples present in both files, in the VCF's order.
struct SampleMatch {
    std::vector<std::size_t> vcf_columns, expression_columns;
    std::vector<std::string> genotype_ids, expression_ids;
    std::size_t dropped_genotype = 0, dropped_expression = 0;
};

// `map` takes a VCF ID to its expression ID (unmapped IDs stand for
// themselves); `listed`, when not empty, keeps only those VCF IDs. Throws
// ProgramError when no sample is in both, naming a few of each side.
SampleMatch match_samples(const std::vector<std::string>& vcf, const std::vector<std::string>& expression,
                          const std::map<std::string, std::string>& map, const std::set<std::string>& listed);

// One ID per line (blank lines ignored).
std::set<std::string> read_id_list(const std::string& path);
// Two columns per line: genotype ID, expression ID.
std::map<std::string, std::string> read_sample_map(const std::string& path);
