// morv-qq: a QQ plot of morv's MC and IT p-values with their genomic
// inflation factors, which it also prints.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/output_path.hpp"
#include "files/program_error.hpp"
#include "report/options.hpp"
#include "report/provenance.hpp"
#include "report/qq.hpp"
#include "report/qq_plot.hpp"

namespace {

// lambda over only the p-values below the threshold measures the threshold,
// not inflation.
void refuse_truncated(const ResultOrigin& origin, const std::string& results)
{
    if (origin.known && origin.omitPruned)
        throw ProgramError(results + " was written with --omit-pruned: it holds only the pairs whose MC p-value is "
                                    "below the threshold, and lambda or a QQ plot over those means nothing; run morv "
                                    "without --omit-pruned for them");
}

std::string counted(std::uint64_t n, const char* what)
{
    return std::to_string(n) + " " + what;
}

void print_lambda(const char* name, const PSeries& s)
{
    if (s.tested == 0)
        std::printf("lambda %s: none (0 tested, %llu left out)\n", name, static_cast<unsigned long long>(s.left_out));
    else
        std::printf("lambda %s: %.4f (%llu tested, %llu left out)\n", name, lambda_of(s),
                    static_cast<unsigned long long>(s.tested), static_cast<unsigned long long>(s.left_out));
}

Manifest plot_manifest(int argc, char** argv, const std::string& results, const QQSeries& q)
{
    Manifest m = begin_manifest("morv-qq", argc, argv);
    m["complete"] = true;
    m["inputs"] = {{"results", facts_json(file_facts(results))}};
    m["threshold_line"] = q.threshold_line;
    for (const auto& [key, s] : {std::pair{"mc", &q.mc}, std::pair{"it", &q.it}})
        m[key] = {{"lambda", s->tested ? Manifest(lambda_of(*s)) : Manifest()}, {"tested", s->tested},
                  {"left_out", s->left_out}};
    m["ended"] = utc_now();
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    return run_reporting_errors([&] {
        const auto options = parse_options(argc, argv, {"--results", "--out"}, {"--results", "--out"},
                                           "morv-qq --results FILE --out PLOT.png");
        const std::string results = options.at("--results"), png = options.at("--out");
        for (const std::string& path : {png, manifest_path(png)})
            if (const std::string why = why_not_replaceable(path, "--out"); !why.empty())
                throw ProgramError(why);
        std::vector<std::string> warnings;
        const ResultOrigin origin = read_result_origin(results, warnings);
        refuse_truncated(origin, results);
        const QQSeries q = read_qq_series(results, !origin.complete);
        if (q.lines == 0)
            throw ProgramError(results + " holds no result lines: there is nothing to plot");
        if (q.mc.tested == 0)
            throw ProgramError(results + " holds no MC p-value below 1 (every one is morv's stand-in 1 or 2 for a "
                                        "pair it could not test): there is nothing to plot");
        if (!origin.known && q.pruned_by_mc == 0)
            warnings.push_back(results + " holds no line of flag 0: if it was written with --omit-pruned, lambda MC "
                                         "is over the pairs below the threshold only and means nothing");
        print_warnings(warnings);
        print_lambda("MC", q.mc);
        print_lambda("IT", q.it);
        std::fflush(stdout);
        std::vector<QQCurve> curves = {{"MC", lambda_of(q.mc), q.mc.tested, qq_points(q.mc, 2000)}};
        if (q.it.tested > 0)
            curves.push_back({"IT, given MC p < threshold", lambda_of(q.it), q.it.tested, qq_points(q.it, 2000)});
        const std::string title = std::filesystem::path(results).filename().string() + ", " + q.threshold_line;
        const std::string subtitle = "left out as not tests (p of 1 or 2): " + counted(q.mc.left_out, "MC") + ", " +
                                     counted(q.it.left_out, "IT");
        draw_qq_plot(curves, png, title, subtitle);
        try {
            write_manifest(manifest_path(png), plot_manifest(argc, argv, results, q));
        } catch (const FileError& e) {
            throw ProgramError(e.what());
        }
    });
}
