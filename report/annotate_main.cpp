// morv-annotate: morv's result lines with the SNP and gene IDs of the
// prepared tables, optionally filtered, as a tab-separated table on
// standard output.
#include <cmath>
#include <iostream>

#include "files/program_error.hpp"
#include "report/annotate.hpp"
#include "report/options.hpp"
#include "report/provenance.hpp"

int main(int argc, char** argv)
{
    return run_reporting_errors([&] {
        const auto options = parse_options(
            argc, argv, {"--results", "--prepared", "--flags", "--max-mc-p", "--max-it-p", "--fdr", "--max-q"},
            {"--results", "--prepared"},
            "morv-annotate --results FILE --prepared DIR [--flags LIST] [--max-mc-p P] [--max-it-p P] "
            "[--fdr HISTOGRAM [--max-q Q]] [--effects]",
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
        if (options.count("--max-q") && !options.count("--fdr"))
            throw ProgramError("--max-q needs --fdr HISTOGRAM: the q-values come from its permutation scans");
        const double maxQ = options.count("--max-q") ? positive_limit(options.at("--max-q"), "--max-q", "a q-value")
                                                     : HUGE_VAL;
        const std::string results = options.at("--results"), dir = options.at("--prepared");
        std::vector<std::string> warnings;
        const ResultOrigin origin = read_result_origin(results, warnings);
        check_prepared_folder(origin, results, dir, warnings);
        QColumns q;  // read only when asked for: without it nothing changes
        if (options.count("--fdr")) {
            const std::string histogram = options.at("--fdr");
            const Histogram h = read_histogram(histogram);
            check_histogram_origin(origin, h.origin, results, histogram, warnings);
            q = read_q_columns(h, histogram);
            q.max_q = maxQ;
        }
        print_warnings(warnings);
        const PreparedTables tables = read_prepared(dir);
        const bool withEffects = options.count("--effects") > 0;
        EffectTables effects;  // loaded only when asked for: without it nothing changes
        if (withEffects)
            effects = read_effect_tables(dir, tables.snps.size(), tables.genes.size());
        std::ios::sync_with_stdio(false);
        annotate(results, tables, filter, std::cout, !origin.complete, withEffects ? &effects : nullptr,
                 options.count("--fdr") ? &q : nullptr);
    });
}
