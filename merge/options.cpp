#include "merge/options.hpp"

#include "files/program_error.hpp"

const char* const kMergeUsage = "usage: morv-merge -o OUT SHARD...";

namespace {

[[noreturn]] void refuse(const std::string& what)
{
    throw ProgramError(what + " (" + kMergeUsage + ")");
}

}  // namespace

MergeOptions parse_merge_options(const std::vector<std::string>& args)
{
    MergeOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help")
            o.help = true;
        else if (a == "-o" && (i + 1 == args.size() || args[i + 1].empty()))
            refuse("-o wants a file name");
        else if (a == "-o" && !o.out.empty())
            refuse("-o given twice");
        else if (a == "-o")
            o.out = args[++i];
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
