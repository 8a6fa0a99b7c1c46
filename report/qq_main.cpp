// morv-qq: a QQ plot of morv's MC and IT p-values with their genomic
// inflation factors, which it also prints.
#include <cstdio>

#include "report/options.hpp"
#include "report/qq.hpp"
#include "report/qq_plot.hpp"

int main(int argc, char** argv)
{
    return run_reporting_errors([&] {
        const auto options = parse_options(argc, argv, {"--results", "--out"}, {"--results", "--out"},
                                           "morv-qq --results FILE --out PLOT.png");
        const QQSeries q = read_qq_series(options.at("--results"));
        std::vector<QQCurve> curves;
        for (const auto& [name, series] : {std::pair{"MC", &q.mc}, std::pair{"IT", &q.it}}) {
            curves.push_back({name, lambda_of(*series), series->tested, qq_points(*series, 2000)});
            std::printf("lambda %s: %.4f (%llu tested, %llu left out)\n", name, curves.back().lambda,
                        static_cast<unsigned long long>(series->tested),
                        static_cast<unsigned long long>(series->left_out));
        }
        std::fflush(stdout);
        draw_qq_plot(curves, options.at("--out"));
    });
}
