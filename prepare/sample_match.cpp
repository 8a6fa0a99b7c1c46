#include "prepare/sample_match.hpp"

#include <unordered_map>

#include "files/checked_input.hpp"
#include "files/program_error.hpp"
#include "prepare/text_file.hpp"

namespace {

std::string first_three(const std::vector<std::string>& ids)
{
    std::string text;
    for (std::size_t i = 0; i < ids.size() && i < 3; ++i)
        text += (i ? ", " : "") + ids[i];
    return text + (ids.size() > 3 ? ", ..." : "");
}

}  // namespace

SampleMatch match_samples(const std::vector<std::string>& vcf, const std::vector<std::string>& expression,
                          const std::map<std::string, std::string>& map, const std::set<std::string>& listed)
{
    std::unordered_map<std::string, std::size_t> column_of;
    for (std::size_t i = 0; i < expression.size(); ++i)
        column_of[expression[i]] = i;
    SampleMatch match;
    bool overlap = false;
    for (std::size_t i = 0; i < vcf.size(); ++i) {
        const auto mapped = map.find(vcf[i]);
        const std::string& id = mapped == map.end() ? vcf[i] : mapped->second;
        const auto column = column_of.find(id);
        overlap = overlap || column != column_of.end();
        if (column == column_of.end() || (!listed.empty() && !listed.count(vcf[i])))
            continue;
        match.vcf_columns.push_back(i);
        match.expression_columns.push_back(column->second);
        match.genotype_ids.push_back(vcf[i]);
        match.expression_ids.push_back(id);
    }
    if (!overlap)
        throw ProgramError("no sample is in both files; the VCF has " + first_three(vcf) + "; the expression file has " +
                           first_three(expression));
    if (match.vcf_columns.empty())
        throw ProgramError("no sample of both files is in the --samples list");
    match.dropped_genotype = vcf.size() - match.vcf_columns.size();
    match.dropped_expression = expression.size() - match.vcf_columns.size();
    return match;
}

std::set<std::string> read_id_list(const std::string& path)
{
    std::set<std::string> ids;
    for (const std::string& line : split_lines(read_checked_text(path)))
        for (const std::string& id : split_blanks(line))
            ids.insert(id);
    return ids;
}

std::map<std::string, std::string> read_sample_map(const std::string& path)
{
    std::map<std::string, std::string> map;
    std::set<std::string> targets;
    const std::vector<std::string> lines = split_lines(read_checked_text(path));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = split_blanks(lines[i]);
        const std::string where = "the sample map " + path + " line " + std::to_string(i + 1);
        if (fields.empty())
            continue;
        if (fields.size() != 2)
            throw ProgramError(where + " does not hold two IDs");
        if (!map.emplace(fields[0], fields[1]).second || !targets.insert(fields[1]).second)
            throw ProgramError(where + " repeats an ID");
    }
    return map;
}
