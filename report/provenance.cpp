#include "report/provenance.hpp"

#include <cstdio>

#include "files/file_error.hpp"
#include "files/program_error.hpp"

ResultOrigin read_result_origin(const std::string& results, std::vector<std::string>& warnings)
{
    ResultOrigin o;
    const std::string path = manifest_path(results);
    try {
        o.known = read_manifest(results, o.manifest);
        if (o.known) {
            o.complete = manifest_get<bool>(o.manifest, "complete", path);
            o.omitPruned = manifest_get<bool>(o.manifest, "omit_pruned", path);
        }
    } catch (const FileError& e) {
        throw ProgramError(e.what());
    }
    if (!o.known)
        warnings.push_back(results + " has no manifest (" + path +
                           "; a run without study options writes none): what made it cannot be checked");
    else if (!o.complete)
        warnings.push_back(path + " says the run that wrote " + results +
                           " did not finish (\"complete\": false): its lines are only a part of the scan");
    return o;
}

void check_prepared_folder(const ResultOrigin& origin, const std::string& results, const std::string& dir,
                           std::vector<std::string>& warnings)
{
    const std::string preparedPath = dir + "/manifest.json";
    Manifest prepared;
    bool preparedKnown = false;
    try {
        preparedKnown = read_manifest_at(preparedPath, prepared);
    } catch (const FileError& e) {
        throw ProgramError(e.what());
    }
    if (!preparedKnown) {
        warnings.push_back(dir + " has no manifest (" + preparedPath + "; prepared by an older morv-prepare?): "
                           "that its tables name the indices of " + results + " cannot be checked");
        return;
    }
    if (!origin.known)
        return;  // already warned about
    const Manifest inputs = origin.manifest.value("inputs", Manifest());
    if (!inputs.is_object()) {
        warnings.push_back(manifest_path(results) + " does not name the files the run read (merged from shards "
                           "without manifests?): that " + dir + " is its prepared folder cannot be checked");
        return;
    }
    const Manifest outputs = prepared.value("outputs", Manifest::object());
    for (const char* role : {"genotype", "expression", "allele"}) {
        const Manifest used = inputs.value(role, Manifest()), made = outputs.value(std::string(role) + ".txt", Manifest());
        if (used.is_object() && used.value("regular", true) == false) {
            warnings.push_back(std::string("the run read its ") + role + " file from " + used.value("path", "?") +
                               ", not a regular file: that it came from " + dir + " cannot be checked");
            continue;
        }
        if (!same_contents(used, made))
            throw ProgramError("the prepared folder " + dir + " is not the one whose files " + results +
                              " was run on: the run read the " + role + " file " + describe_contents(used) + ", but " +
                              dir + " made " + describe_contents(made) + " (use the --prepared folder of that run)");
    }
}

void check_histogram_origin(const ResultOrigin& origin, const HistogramOrigin& h, const std::string& results,
                            const std::string& histogram, std::vector<std::string>& warnings)
{
    if (!origin.known)
        return;  // already warned about
    const Manifest& m = origin.manifest;
    const Manifest inputs = m.value("inputs", Manifest());
    if (!inputs.is_object() || !m.value("threshold", Manifest()).is_number()) {
        warnings.push_back(manifest_path(results) + " does not name the run's inputs and threshold: that " +
                           histogram + " is of the same run cannot be checked");
        return;
    }
    const std::string checksums = histogram_inputs(m);
    const Manifest snps = m.value("snps", Manifest::object());
    const struct {
        const char* what;
        Manifest ran, counted;
    } facts[] = {
        {"inputs' checksums", checksums, h.inputs},
        {"threshold", m.value("threshold", Manifest()), h.threshold},
        {"samples", m.value("samples", Manifest()), h.samples},
        {"genes", m.value("genes", Manifest()), h.genes},
        {"SNPs in the file", m.value("snps_in_file", Manifest()), h.snpsInFile},
        {"first SNP", snps.value("first", Manifest()), h.firstSnp},
        {"last SNP", snps.value("last", Manifest()), h.lastSnp},
    };
    for (const auto& f : facts)
        if (f.ran != f.counted)
            throw ProgramError("the histogram " + histogram + " is not of the run that wrote " + results + ": its " +
                               f.what + " " + f.counted.dump() + ", but " + manifest_path(results) + " says " +
                               f.ran.dump());
}

void print_warnings(const std::vector<std::string>& warnings)
{
    for (const std::string& w : warnings)
        std::fprintf(stderr, "Warning: %s\n", w.c_str());
    std::fflush(stderr);
}
