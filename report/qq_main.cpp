// morv-qq: a QQ plot of morv's MC and IT p-values with their genomic
// inflation factors, which it also prints; from a result file, or from a
// histogram file over every pair scanned, beside its permutation scans.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "files/checksum.hpp"
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

void print_lambda(const std::string& name, const PSeries& s)
{
    if (s.tested == 0)
        std::printf("lambda %s: none (0 tested, %llu left out)\n", name.c_str(),
                    static_cast<unsigned long long>(s.left_out));
    else
        std::printf("lambda %s: %.4f (%llu tested, %llu left out)\n", name.c_str(), lambda_of(s),
                    static_cast<unsigned long long>(s.tested), static_cast<unsigned long long>(s.left_out));
}

// A series of the plot, by the name its lambda and its manifest entry take.
struct Named {
    std::string name, key;
    const PSeries* series;
};

Manifest plot_manifest(int argc, char** argv, const Manifest& inputs, const char* settingKey, const Manifest& setting,
                       const std::vector<Named>& series)
{
    Manifest m = begin_manifest("morv-qq", argc, argv);
    m["complete"] = true;
    m["inputs"] = inputs;
    m[settingKey] = setting;
    for (const Named& n : series)
        m[n.key] = {{"lambda", n.series->tested ? Manifest(lambda_of(*n.series)) : Manifest()},
                    {"tested", n.series->tested}, {"left_out", n.series->left_out}};
    m["ended"] = utc_now();
    return m;
}

void plot_results(int argc, char** argv, const std::string& results, const std::string& png)
{
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
    std::vector<QQCurve> curves = {{"MC", lambda_of(q.mc), q.mc.tested, qq_points(q.mc, 2000), ""}};
    if (q.it.tested > 0)
        curves.push_back({"IT, given MC p < threshold", lambda_of(q.it), q.it.tested, qq_points(q.it, 2000), ""});
    const std::string title = std::filesystem::path(results).filename().string() + ", " + q.threshold_line;
    const std::string subtitle = "left out as not tests (p of 1 or 2): " + counted(q.mc.left_out, "MC") + ", " +
                                 counted(q.it.left_out, "IT");
    draw_qq_plot(curves, png, title, subtitle);
    const Manifest inputs = {{"results", facts_json(file_facts(results))}};
    write_manifest(manifest_path(png), plot_manifest(argc, argv, inputs, "threshold_line", q.threshold_line,
                                                     {{"MC", "mc", &q.mc}, {"IT", "it", &q.it}}));
}

// From a histogram: the real scan over every pair the run scanned, whatever
// its result file kept, and the permutation scans pooled, the null's curve,
// which a calibrated test keeps on the diagonal.
void plot_histogram(int argc, char** argv, const std::string& histogram, const std::string& results,
                    const std::string& png)
{
    const Histogram h = read_histogram(histogram);
    Manifest inputs = {{"histogram", facts_json(file_facts(histogram))}};
    if (!results.empty()) {  // only to check that the two belong together
        std::vector<std::string> warnings;
        check_histogram_origin(read_result_origin(results, warnings), h.origin, results, histogram, warnings);
        print_warnings(warnings);
        inputs["results"] = facts_json(file_facts(results));
    }
    HistogramScan pooled;
    for (std::size_t k = 1; k < h.scans.size(); ++k)
        add_scan(pooled, h.scans[k]);
    const PSeries mc = series_of(h.scans[0].mc), it = series_of(h.scans[0].it);
    const PSeries mcNull = series_of(pooled.mc), itNull = series_of(pooled.it);
    if (mc.tested == 0)
        throw ProgramError("the histogram " + histogram + " counts no MC p-value: there is nothing to plot");
    // The null's colours are lighter shades of the real scan's.
    const struct {
        Named named;
        std::string label, colour;
        bool permuted;
    } shown[] = {{{"MC", "mc", &mc}, "MC", "#1f77b4", false},
                 {{"MC permutations", "mc_permutations", &mcNull}, "MC permutations", "#9ecae1", true},
                 {{"IT", "it", &it}, "IT, given MC p < threshold", "#d62728", false},
                 {{"IT permutations", "it_permutations", &itNull}, "IT permutations", "#f4a582", true}};
    std::vector<Named> series;
    std::vector<QQCurve> curves;
    for (const auto& s : shown) {
        const PSeries& p = *s.named.series;
        if (s.permuted && h.scans.size() == 1)
            continue;  // no permutation scans
        series.push_back(s.named);
        print_lambda(s.named.name, p);
        if (p.tested > 0)
            curves.push_back({s.label, lambda_of(p), p.tested, qq_points(p, 2000), s.colour});
    }
    std::fflush(stdout);
    char title[256];
    std::snprintf(title, sizeof title, "%s, threshold %g, SNPs %llu-%llu, %u permutations",
                  std::filesystem::path(histogram).filename().string().c_str(), h.origin.threshold,
                  static_cast<unsigned long long>(h.origin.firstSnp),
                  static_cast<unsigned long long>(h.origin.lastSnp), h.origin.permutations);
    const std::string subtitle = "every pair scanned; left out as not a number or not tested: " +
                                 counted(mc.left_out, "MC") + ", " + counted(it.left_out, "IT");
    draw_qq_plot(curves, png, title, subtitle);
    write_manifest(manifest_path(png), plot_manifest(argc, argv, inputs, "threshold", h.origin.threshold, series));
}

}  // namespace

int main(int argc, char** argv)
{
    return run_reporting_errors([&] {
        const std::string usage = "morv-qq --results FILE --out PLOT.png | morv-qq --histogram FILE [--results FILE] --out PLOT.png";
        auto options = parse_options(argc, argv, {"--results", "--out", "--histogram"}, {}, usage);
        // --results is required unless the plot comes from --histogram.
        if (!options.count("--results") && !options.count("--histogram"))
            throw ProgramError("option --results is required (usage: " + usage + ")");
        if (!options.count("--out"))
            throw ProgramError("option --out is required (usage: " + usage + ")");
        const std::string png = options.at("--out");
        for (const std::string& path : {png, manifest_path(png)})
            if (const std::string why = why_not_replaceable(path, "--out"); !why.empty())
                throw ProgramError(why);
        if (options.count("--histogram"))
            plot_histogram(argc, argv, options.at("--histogram"), options["--results"], png);
        else
            plot_results(argc, argv, options.at("--results"), png);
    });
}
