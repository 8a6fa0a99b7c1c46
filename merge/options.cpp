#include "merge/options.hpp"

#include "files/program_error.hpp"

const char* const kMergeUsage = "usage: morv-merge -o OUT [--histogram HIST] SHARD...";

const char* const kMergeHelp =
    "Joins the result files of morv --snps runs (shards) into OUT, in SNP order.\n"
    "--histogram HIST: also adds up the shards' histograms into HIST; the histogram\n"
    "of a shard SHARD is SHARD.hist, so run each shard with --histogram SHARD.hist.";

namespace {

[[noreturn]] void refuse(const std::string& what)
{
    throw ProgramError(what + " (" + kMergeUsage + ")");
}

// The file name after the option args[i], given once.
void take_file_name(const std::vector<std::string>& args, std::size_t& i, std::string& name)
{
    if (i + 1 == args.size() || args[i + 1].empty())
        refuse(args[i] + " wants a file name");
    if (!name.empty())
        refuse(args[i] + " given twice");
    name = args[++i];
}

}  // namespace

MergeOptions parse_merge_options(const std::vector<std::string>& args)
{
    MergeOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help")
            o.help = true;
        else if (a == "-o")
            take_file_name(args, i, o.out);
        else if (a == "--histogram")
            take_file_name(args, i, o.histogram);
        else if (a.size() > 1 && a[0] == '-')
            refuse("unknown option " + a);
        else
            o.shards.push_back(a);
    }
    if (!o.help && o.out.empty())
        refuse("-o OUT is required");
    if (!o.help && o.shards.empty())
        refuse("no shard to merge");
    return o;
}
