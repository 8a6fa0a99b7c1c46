#pragma once

#include <string>
#include <vector>

#include "report/qq.hpp"

// One series of the QQ plot as the legend names it.
struct QQCurve {
    std::string name;  // "MC", "IT, given MC p < threshold"
    double lambda;
    std::uint64_t tested;
    std::vector<QQPoint> points;
    std::string colour;  // "#rrggbb"; empty: the next of the plot's own
};

// Draws the curves and the diagonal into `png` with gnuplot, run as a child
// process on a generated script; the image appears under its name only when
// complete. `title` and `subtitle` head the plot. Throws ProgramError when
// gnuplot is missing or fails.
void draw_qq_plot(const std::vector<QQCurve>& curves, const std::string& png, const std::string& title = "QQ plot of the morv p-values",
                  const std::string& subtitle = "");
