// morv-annotate: morv's result lines with the SNP and gene IDs of the
// prepared tables, optionally filtered, as a tab-separated table on
// standard output.
#include <cmath>
#include <iostream>

#include "report/annotate.hpp"
#include "report/options.hpp"
#include "report/provenance.hpp"

int main(int argc, char** argv)
{
    return run_reporting_errors([&] {
        const auto options = parse_options(
            argc, argv, {"--results", "--prepared", "--flags", "--max-mc-p", "--max-it-p"},
            {"--results", "--prepared"},
            "morv-annotate --results FILE --prepared DIR [--flags LIST] [--max-mc-p P] [--max-it-p P] [--effects]",
            {"--effects"});
        AnnotateFilter filter;
        if (options.count("--flags"))
            set_flags(filter, options.at("--flags"));
        if (options.count("--max-mc-p"))
            filter.max_log10_mc = std::log10(p_limit(options.at("--max-mc-p"), "--max-mc-p"));
        if (options.count("--max-it-p")) {
            filter.max_log10_it = std::log10(p_limit(options.at("--max-it-p"), "--max-it-p"));
            filter.it_required = true;
        }
        const std::string results = options.at("--results"), dir = options.at("--prepared");
        std::vector<std::string> warnings;
        const ResultOrigin origin = read_result_origin(results, warnings);
        check_prepared_folder(origin, results, dir, warnings);
        print_warnings(warnings);
        const PreparedTables tables = read_prepared(dir);
        const bool withEffects = options.count("--effects") > 0;
        EffectTables effects;  // loaded only when asked for: without it nothing changes
        if (withEffects)
            effects = read_effect_tables(dir, tables.snps.size(), tables.genes.size());
        std::ios::sync_with_stdio(false);
        annotate(results, tables, filter, std::cout, !origin.complete, withEffects ? &effects : nullptr);
    });
}
