// morv-fdr: the p-value cut-offs that keep the false-discovery rate of the
// MC and IT tests at q, from a histogram file of morv's real and
// permutation scans, with Benjamini-Hochberg's beside them.
#include <cstdio>

#include "files/output_path.hpp"
#include "files/program_error.hpp"
#include "report/fdr.hpp"
#include "report/options.hpp"

int main(int argc, char** argv)
{
    return run_reporting_errors(
        [&] {
            const auto options = parse_options(argc, argv, {"--histogram", "--q", "--curve"}, {"--histogram"},
                                               "morv-fdr --histogram FILE [--q Q] [--curve FILE]");
            const std::string path = options.at("--histogram");
            const std::string qText = options.count("--q") ? options.at("--q") : "0.05";
            const double q = positive_limit(qText, "--q", "a q-value");
            const Histogram h = read_histogram(path);
            check_permutation_scans(h, path);
            if (options.count("--curve"))
                write_file_atomically(options.at("--curve"), fdr_curve_text(h), "the --curve file");
            const std::string table = fdr_table(h, q, qText);
            if (std::fputs(table.c_str(), stdout) < 0 || std::fflush(stdout) != 0)
                throw ProgramError("cannot write the output");
        },
        "morv-fdr: ");
}
