#include "driver/run_manifest.hpp"

#include <filesystem>
#include <unistd.h>

#include "io/error.hpp"
#include "io/globals.hpp"
#include "results/shard_record.hpp"

namespace {

Manifest input_facts(const std::string& path)
{
    try {
        return facts_json(file_facts(path));
    } catch (const FileError& e) {
        end_with(e);
    }
}

}  // namespace

Manifest start_run_manifest(const std::vector<std::string>& command, const RunPaths& paths,
                            const StudyOptions& study, double threshold, const char* cpuLevel)
{
    std::vector<const char*> argv;
    for (const std::string& word : command)
        argv.push_back(word.c_str());
    Manifest m = begin_manifest("morv", static_cast<int>(argv.size()), argv.data());
    m["complete"] = false;
    m["threshold"] = threshold;
    m["inputs"] = {{"genotype", input_facts(paths.genotype)},
                   {"expression", input_facts(paths.expression)},
                   {"allele", input_facts(paths.allele)}};
    m["samples"] = n;
    m["genes"] = ngene;
    m["snps_in_file"] = ps;
    const std::uint64_t last = ps > 0 ? static_cast<std::uint64_t>(ps - 1) : 0;
    m["snps"] = {{"first", study.snpRange ? study.firstSnp : 0}, {"last", study.snpRange ? study.lastSnp : last}};
    m["cpu_level"] = cpuLevel;
    m["threads"] = study.threads;
    m["omit_pruned"] = study.omitPruned;
    m["bgzip"] = study.bgzip;
    m["histogram"] = study.histogram.empty() ? Manifest() : Manifest{{"path", absolute_path(study.histogram)}};
    m["permutations"] = study.permutations;
    m["seed"] = study.seedGiven ? Manifest(study.seed) : Manifest();
    m["permute_within"] = study.permuteWithin.empty() ? Manifest() : Manifest(absolute_path(study.permuteWithin));
    m["output"] = {{"path", absolute_path(paths.output)}, {"lines", nullptr}, {"pairs", nullptr}, {"prunings", nullptr}};
    m["ended"] = nullptr;
    return m;
}

void finish_run_manifest(Manifest& m, const ScanCounts& counts)
{
    m["complete"] = true;
    m["output"]["lines"] = counts.lines;
    m["output"]["pairs"] = counts.pairs;
    m["output"]["prunings"] = counts.prunings;
    m["ended"] = utc_now();
}

void note_histogram(Manifest& m, const std::string& path)
{
    m["histogram"] = facts_json(file_facts(path));
}

void write_run_manifest(const RunPaths& paths, const Manifest& m)
{
    try {
        write_manifest(manifest_path(paths.output), m);
    } catch (const FileError& e) {
        end_with(e);
    }
}

void end_with(const FileError& e)
{
    error(std::string("Error: ") + e.what() + ".");
}

void remove_stale_companions(const std::string& resultPath)
{
    remove_shard_record(resultPath);
    ::unlink(manifest_path(resultPath).c_str());
}
