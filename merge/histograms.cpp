#include "merge/histograms.hpp"

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/program_error.hpp"

namespace {

// The shard's histogram, once its manifest vouches for it.
Histogram read_shard_histogram(const ShardFile& s)
{
    const std::string path = shard_histogram_path(s.path);
    const Manifest written =
        s.hasManifest ? s.manifest.value("histogram", Manifest()) : Manifest();
    if (!written.is_object() || !written.contains("checksum"))
        throw ProgramError(s.path + " was not run with --histogram " + path +
                           " (its manifest names no histogram): every shard needs one to merge histograms");
    FileFacts facts;
    try {
        facts = file_facts(path);
    } catch (const FileError& e) {
        throw ProgramError(std::string(e.what()) + ": the histogram of " + s.path + " is missing or unreadable");
    }
    if (written.value("checksum", "") != facts.checksum)
        throw ProgramError(path + " is not the histogram the run of " + s.path +
                           " wrote (its checksum differs from the manifest's)");
    Histogram h = read_histogram(path);
    if (h.origin.firstSnp != s.record.first || h.origin.lastSnp != s.record.last)
        throw ProgramError(path + " counts SNPs " + std::to_string(h.origin.firstSnp) + "-" +
                           std::to_string(h.origin.lastSnp) + " but " + s.path + " holds SNPs " +
                           std::to_string(s.record.first) + "-" + std::to_string(s.record.last));
    return h;
}

}  // namespace

std::string shard_histogram_path(const std::string& resultPath)
{
    return resultPath + ".hist";
}

Histogram sum_shard_histograms(const std::vector<ShardFile>& shards)
{
    Histogram sum = read_shard_histogram(shards.front());
    for (std::size_t i = 1; i < shards.size(); ++i)
        sum = add_histograms(sum, read_shard_histogram(shards[i]), shard_histogram_path(shards[i - 1].path),
                             shard_histogram_path(shards[i].path));
    return sum;
}
