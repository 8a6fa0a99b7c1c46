// morv-merge: joins the result files of morv runs over consecutive SNP
// ranges (shards) into the file of one run over the whole range.
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "merge/merge.hpp"
#include "merge/options.hpp"

int main(int argc, char** argv)
{
    try {
        const MergeOptions o = parse_merge_options(std::vector<std::string>(argv + 1, argv + argc));
        if (o.help) {
            std::cout << kMergeUsage << "\n" << kMergeHelp << "\n";
            return 0;
        }
        MergeRun run;
        run.manifest = begin_manifest("morv-merge", argc, argv);
        run.histogram = o.histogram;
        const ShardRecord total = merge_shards(o.out, o.shards, run);
        for (const std::string& warning : run.warnings)
            std::cerr << "morv-merge: warning: " << warning << "\n";
        std::cout << "#pairs: " << total.pairs << "\n#prunings: " << total.prunings << "\n";
        return 0;
    } catch (const std::bad_alloc&) {
        std::cerr << "morv-merge: not enough memory\n";
    } catch (const std::exception& e) {  // ProgramError: the file(s) and the problem
        std::cerr << "morv-merge: " << e.what() << "\n";
    }
    return 1;
}
