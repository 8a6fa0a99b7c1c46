#include "driver/permutation.hpp"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "files/checksum.hpp"
#include "io/error.hpp"

namespace {

std::uint64_t mix(std::uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() { return mix(state += 0x9e3779b97f4a7c15ULL); }

    // Uniform on [0, bound): draws below 2^64 mod bound are refused, so every
    // remainder is equally likely.
    std::uint64_t below(std::uint64_t bound)
    {
        const std::uint64_t refused = (0 - bound) % bound;
        for (;;)
            if (const std::uint64_t r = next(); r >= refused)
                return r % bound;
    }
};

[[noreturn]] void refuse(const std::string& path, std::size_t line, const std::string& why)
{
    error("Error: --permute-within " + path + (line ? ", line " + std::to_string(line) : std::string()) +
          ": " + why + ".");
}

// genotype_id and expression_id of samples.tsv beside the genotype file, to
// their row; empty when there is none.
std::map<std::string, std::size_t> sample_ids(const std::string& genotypePath)
{
    std::map<std::string, std::size_t> ids;
    const std::filesystem::path table = std::filesystem::path(genotypePath).parent_path() / "samples.tsv";
    std::ifstream in(table);
    std::string line, index, genotype, expression;
    std::getline(in, line);  // index genotype_id expression_id
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::size_t row = 0;
        if (words >> row >> genotype >> expression) {
            ids.emplace(genotype, row);
            ids.emplace(expression, row);
        }
    }
    return ids;
}

}  // namespace

std::vector<std::size_t> sample_permutation(std::uint64_t seed, unsigned k, std::size_t samples,
                                            const std::vector<unsigned>& groupOf)
{
    std::vector<std::vector<std::size_t>> groups(1);
    for (std::size_t s = 0; s < samples; ++s) {
        const unsigned g = groupOf.empty() ? 0 : groupOf[s];
        if (g >= groups.size())
            groups.resize(g + 1);
        groups[g].push_back(s);
    }
    SplitMix64 random{mix(mix(seed) + k)};
    std::vector<std::size_t> rows(samples);
    for (std::vector<std::size_t>& group : groups) {
        std::vector<std::size_t> from = group;
        for (std::size_t i = from.size(); i > 1; --i)
            std::swap(from[i - 1], from[random.below(i)]);
        for (std::size_t i = 0; i < group.size(); ++i)
            rows[group[i]] = from[i];
    }
    return rows;
}

SampleGroups read_sample_groups(const std::string& path, const std::string& genotypePath, std::size_t samples)
{
    std::ifstream in(path);
    if (!in)
        refuse(path, 0, "cannot be read");
    const std::map<std::string, std::size_t> ids = sample_ids(genotypePath);
    std::vector<std::string> labelOf(samples);
    std::vector<bool> seen(samples, false);
    std::string line, sample, group, extra;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line);
        if (!(words >> sample))
            continue;
        if (!(words >> group) || (words >> extra))
            refuse(path, number, "a line is a sample and its group, not \"" + line + "\"");
        if (number == 1 && sample == "sample" && group == "group")
            continue;
        std::size_t row = samples;
        if (const auto id = ids.find(sample); id != ids.end())
            row = id->second;
        else if (std::from_chars(sample.data(), sample.data() + sample.size(), row).ptr != sample.data() + sample.size())
            row = samples;
        if (row >= samples)
            refuse(path, number, "\"" + sample + "\" is no sample of the genotype file (a row from 0 to " +
                                     std::to_string(samples - 1) + ", or an ID of its samples.tsv)");
        if (seen[row])
            refuse(path, number, "sample \"" + sample + "\" (row " + std::to_string(row) + ") is given a group twice");
        seen[row] = true;
        labelOf[row] = group;
    }
    if (in.bad())
        refuse(path, 0, "cannot be read");
    SampleGroups groups;
    std::map<std::string, unsigned> number;
    Checksum sum;
    for (std::size_t s = 0; s < samples; ++s) {
        if (!seen[s])
            refuse(path, 0, "sample row " + std::to_string(s) + " has no group: every sample needs one");
        groups.groupOf.push_back(number.emplace(labelOf[s], static_cast<unsigned>(number.size())).first->second);
        sum.add(labelOf[s].data(), labelOf[s].size());
        sum.add("\n", 1);
    }
    groups.checksum = sum.hex();
    return groups;
}
