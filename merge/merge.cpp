#include "merge/merge.hpp"

#include <algorithm>
#include <filesystem>
#include <htslib/bgzf.h>
#include <limits>
#include <unistd.h>

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/output_path.hpp"
#include "files/program_error.hpp"
#include "merge/histograms.hpp"
#include "merge/output_file.hpp"
#include "merge/shard_file.hpp"
#include "results/bgzf_blocks.hpp"

namespace {

[[noreturn]] void fail(const std::string& message)
{
    throw ProgramError(message);
}

std::string snps(std::uint64_t first, std::uint64_t last)
{
    return first == last ? "SNP " + std::to_string(first)
                         : "SNPs " + std::to_string(first) + "-" + std::to_string(last);
}

std::string named(const ShardFile& s)
{
    return s.path + " (" + snps(s.record.first, s.record.last) + ")";
}

// The merged file can only be of one kind: every shard must be written alike.
void check_alike(const std::vector<ShardFile>& shards)
{
    const ShardFile& a = shards.front();
    for (const ShardFile& b : shards) {
        const auto kind = [](const ShardFile& s) { return s.record.bgzip ? "BGZF (bgzip 1)" : "plain (bgzip 0)"; };
        const auto pruned = [](const ShardFile& s) {
            return s.record.omitPruned ? "omits pruned pairs (omit-pruned 1)" : "keeps pruned pairs (omit-pruned 0)";
        };
        if (b.record.bgzip != a.record.bgzip)
            fail(a.path + " is " + kind(a) + " but " + b.path + " is " + kind(b) + ": merge shards written alike");
        if (b.record.omitPruned != a.record.omitPruned)
            fail(a.path + " " + pruned(a) + " but " + b.path + " " + pruned(b) + ": merge shards written alike");
        if (genes_of(b.record) != genes_of(a.record))
            fail(b.path + " holds the pairs of " + std::to_string(genes_of(b.record)) + " genes but " + a.path +
                 " of " + std::to_string(genes_of(a.record)) + ": were they run on the same expression file?");
    }
}

// Sorted by first SNP, each shard must begin right after the one before.
// Returns the union's record, with the counts summed.
ShardRecord union_of(const std::vector<ShardFile>& shards)
{
    ShardRecord total = shards.front().record;
    for (std::size_t i = 1; i < shards.size(); ++i) {
        const ShardRecord &a = shards[i - 1].record, &b = shards[i].record;
        if (b.first <= a.last)
            fail(named(shards[i - 1]) + " and " + named(shards[i]) + " both hold " +
                 snps(b.first, std::min(a.last, b.last)));
        if (b.first - a.last > 1)
            fail(snps(a.last + 1, b.first - 1) + (b.first - a.last > 2 ? " are" : " is") + " in no shard: " +
                 shards[i - 1].path + " ends at SNP " + std::to_string(a.last) + ", " + shards[i].path +
                 " begins at SNP " + std::to_string(b.first));
        if (b.pairs > std::numeric_limits<std::uint64_t>::max() - total.pairs)
            fail("the pairs of the shards' records add up beyond what any run can write");
        total.last = b.last;
        total.pairs += b.pairs;
        total.prunings += b.prunings;
        total.lines += b.lines;
        total.linesKnown = total.linesKnown && b.linesKnown;
    }
    return total;
}

// A shard's manifest must say its run finished and describe this very file.
void check_manifest(const ShardFile& s)
{
    const Manifest& m = s.manifest;
    const std::string path = manifest_path(s.path);
    const ShardRecord& r = s.record;
    try {
        if (!manifest_get<bool>(m, "complete", path))
            fail(path + " says its run did not finish (\"complete\": false): was it interrupted?");
        const Manifest& range = manifest_get<Manifest>(m, "snps", path);
        const Manifest& output = manifest_get<Manifest>(m, "output", path);
        const bool agree = manifest_get<std::uint64_t>(range, "first", path) == r.first &&
                           manifest_get<std::uint64_t>(range, "last", path) == r.last &&
                           manifest_get<bool>(m, "omit_pruned", path) == r.omitPruned &&
                           manifest_get<bool>(m, "bgzip", path) == r.bgzip &&
                           manifest_get<std::uint64_t>(output, "pairs", path) == r.pairs &&
                           manifest_get<std::uint64_t>(output, "prunings", path) == r.prunings &&
                           (!r.linesKnown || manifest_get<std::uint64_t>(output, "lines", path) == r.lines);
        if (!agree)
            fail(path + " and the record " + shard_record_path(s.path) +
                 " describe different runs (SNPs, counts or format): was one of them copied from another shard?");
    } catch (const FileError& e) {
        fail(e.what());
    }
}

// Shards of one study: the same threshold, the same inputs byte for byte.
void check_same_run(const ShardFile& a, const ShardFile& b)
{
    const auto differ = [&](const char* key) { return a.manifest.value(key, Manifest()) != b.manifest.value(key, Manifest()); };
    if (differ("threshold"))
        fail(b.path + " was run with threshold " + b.manifest.value("threshold", Manifest()).dump() + " but " + a.path +
             " with " + a.manifest.value("threshold", Manifest()).dump() + ": merge shards of one run");
    for (const char* role : {"genotype", "expression", "allele"}) {
        const Manifest ia = a.manifest.value("inputs", Manifest::object()).value(role, Manifest()),
                       ib = b.manifest.value("inputs", Manifest::object()).value(role, Manifest());
        // Inputs read from FIFOs carry no checksum on either side: nothing to compare.
        const bool checked = ia.contains("checksum") || ib.contains("checksum");
        if (checked && !same_contents(ia, ib))
            fail(b.path + " was made from another " + role + " file than " + a.path + " (" + describe_contents(ib) +
                 " against " + describe_contents(ia) + "): merge shards of the same inputs");
    }
    for (const char* key : {"samples", "genes", "snps_in_file"})
        if (differ(key))
            fail(b.path + " and " + a.path + " disagree on \"" + key + "\" in their manifests: merge shards of one run");
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

void check_same_header(const ShardFile& a, const ShardFile& b)
{
    if (a.header == b.header)
        return;
    const std::vector<std::string> la = lines_of(a.header), lb = lines_of(b.header);
    std::size_t k = 0;
    while (la[k] == lb[k])
        ++k;
    fail("the header of " + b.path + " differs from that of " + a.path + " (line " + std::to_string(k + 1) +
         ": \"" + lb[k] + "\" against \"" + la[k] + "\"): were they run on the same inputs and threshold?");
}

bool same_file(const std::string& a, const std::string& b)
{
    std::error_code ignored;  // false when either does not exist yet
    return std::filesystem::equivalent(a, b, ignored) || absolute_path(a) == absolute_path(b);
}

// OUT, its record, its manifest and the histogram are renamed into place:
// each must be new or a regular file, and none may be a file the merge reads.
void check_out_paths(const std::string& out, const std::string& histogram, const std::vector<ShardFile>& shards)
{
    std::vector<std::string> written = {out, shard_record_path(out), manifest_path(out)};
    for (const std::string& w : written)
        if (!histogram.empty() && same_file(histogram, w))
            fail("--histogram " + histogram + " would take the place of " + w);
    if (!histogram.empty())
        written.push_back(histogram);
    for (const std::string& w : written) {
        if (const std::string why = why_not_replaceable(w, "-o"); !why.empty())
            fail(why);
        for (const ShardFile& s : shards) {
            if (w == out && same_file(w, s.path))
                fail("-o " + out + " is one of the shards: merge into a new file");
            for (const std::string& r :
                 {s.path, shard_record_path(s.path), manifest_path(s.path), shard_histogram_path(s.path)})
                if (same_file(w, r))
                    fail((w == histogram ? "--histogram " + histogram : "-o " + out) + " would write over " + r + ", which belongs to the shard " + s.path +
                         ": merge into a new file");
        }
    }
}

Manifest shard_summary(const ShardFile& s)
{
    Manifest m;
    m["path"] = absolute_path(s.path);
    m["size"] = s.size;
    m["checksum"] = s.checksum;
    for (const char* key : {"program", "version", "cpu_level", "threads"})
        m[key] = s.hasManifest ? s.manifest.value(key, Manifest()) : Manifest();
    return m;
}

// OUT's manifest: the run's settings and inputs as the shards' manifests
// have them (null when a shard has none, so nothing claims a check that was
// not made), the union's range and counts, and each shard.
void complete_manifest(Manifest& m, const std::string& out, const std::vector<ShardFile>& shards, const ShardRecord& total)
{
    const bool allKnown =
        std::all_of(shards.begin(), shards.end(), [](const ShardFile& s) { return s.hasManifest; });
    m["complete"] = true;
    for (const char* key : {"threshold", "inputs", "samples", "genes", "snps_in_file"})
        m[key] = allKnown ? shards.front().manifest.value(key, Manifest()) : Manifest();
    m["snps"] = {{"first", total.first}, {"last", total.last}};
    m["omit_pruned"] = total.omitPruned;
    m["bgzip"] = total.bgzip;
    Manifest list = Manifest::array();
    for (const ShardFile& s : shards)
        list.push_back(shard_summary(s));
    m["shards"] = list;
    m["output"] = {{"path", absolute_path(out)},
                   {"lines", total.lines},
                   {"pairs", total.pairs},
                   {"prunings", total.prunings}};
    m["ended"] = utc_now();
}

}  // namespace

ShardRecord merge_shards(const std::string& out, const std::vector<std::string>& paths, MergeRun& run)
{
    std::vector<ShardFile> shards;
    for (const std::string& path : paths)
        shards.push_back(read_shard(path));
    check_alike(shards);
    std::stable_sort(shards.begin(), shards.end(),
                     [](const ShardFile& a, const ShardFile& b) { return a.record.first < b.record.first; });
    ShardRecord total = union_of(shards);
    const ShardFile* known = nullptr;
    for (const ShardFile& s : shards) {
        if (!s.hasManifest) {
            run.warnings.push_back(s.path + " has no manifest (written by an older morv?): its inputs and "
                                            "threshold cannot be checked against the other shards'");
            continue;
        }
        check_manifest(s);
        if (known)
            check_same_run(*known, s);
        known = known ? known : &s;
    }
    for (ShardFile& s : shards) {
        inspect_shard(s);
        check_same_header(shards.front(), s);
    }
    Histogram histogram;
    if (!run.histogram.empty())
        histogram = sum_shard_histograms(shards);
    check_out_paths(out, run.histogram, shards);

    const std::size_t pieceBytes = std::max<std::size_t>(run.pieceBytes, BGZF_MAX_BLOCK_SIZE);
    OutputFile merged(out, pieceBytes);
    for (ShardFile& s : shards)
        copy_shard(s, merged, &s == &shards.front(), pieceBytes);
    if (total.bgzip)
        put(merged, bgzf_eof_block().data(), bgzf_eof_block().size());
    finish_output(merged);
    // Every line was counted while copying: the merged record says how many,
    // whatever version the shards' records were.
    if (!total.linesKnown) {
        total.lines = 0;
        for (const ShardFile& s : shards)
            total.lines += s.lines;
        total.linesKnown = true;
    }
    complete_manifest(run.manifest, out, shards, total);
    // A record or manifest must never describe another file than the one
    // beside it: the old ones go just before the new OUT takes its name.
    remove_shard_record(out);
    ::unlink(manifest_path(out).c_str());
    commit_output(merged);
    try {
        run.manifest["histogram"] = nullptr;
        if (!run.histogram.empty()) {
            write_histogram(run.histogram, histogram);
            run.manifest["histogram"] = facts_json(file_facts(run.histogram));
        }
        write_shard_record(out, total);
        write_manifest(manifest_path(out), run.manifest);
    } catch (const FileError& e) {
        std::remove(out.c_str());
        remove_shard_record(out);
        if (!run.histogram.empty())
            std::remove(run.histogram.c_str());
        fail(e.what());
    }
    return total;
}
