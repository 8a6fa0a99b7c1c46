#include "report/qq_plot.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "files/program_error.hpp"

extern char** environ;

namespace {

// A scratch directory for the script and data, removed with its files.
struct ScratchDir {
    std::string path;
    std::vector<std::string> files;
    ScratchDir()
    {
        char name[] = "/tmp/morv-qq.XXXXXX";
        if (!mkdtemp(name))
            throw ProgramError(std::string("cannot create a scratch directory: ") + std::strerror(errno));
        path = name;
    }
    ~ScratchDir()
    {
        for (const std::string& f : files)
            std::remove(f.c_str());
        rmdir(path.c_str());
    }
    std::string write(const std::string& name, const std::string& text)
    {
        files.push_back(path + "/" + name);
        std::ofstream out(files.back());
        if (!(out << text) || !out.flush())
            throw ProgramError("cannot write " + files.back());
        return files.back();
    }
};

// A gnuplot string literal: single quotes take everything but themselves.
std::string quoted(const std::string& text)
{
    std::string q = "'";
    for (char c : text)
        q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

std::string data_of(const std::vector<QQPoint>& points)
{
    std::string text;
    char line[64];
    for (const QQPoint& p : points) {
        std::snprintf(line, sizeof line, "%.6g %.6g\n", p.expected, p.observed);
        text += line;
    }
    return text;
}

// A gnuplot double-quoted string: backslash escapes, so a newline can break
// the title into lines.
std::string double_quoted(const std::string& text)
{
    std::string q = "\"";
    for (char c : text)
        q += c == '\n' ? std::string("\\n") : c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return q + "\"";
}

std::string script_of(const std::vector<QQCurve>& curves, const std::vector<std::string>& data,
                      const std::string& output, const std::string& title, const std::string& subtitle)
{
    double xmax = 1, ymax = 1;
    for (const QQCurve& c : curves)
        for (const QQPoint& p : c.points) {
            xmax = std::max(xmax, p.expected);
            ymax = std::max(ymax, p.observed);
        }
    static const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c"};
    char ranges[128];
    std::snprintf(ranges, sizeof ranges, "set xrange [0:%.6g]\nset yrange [0:%.6g]\n", xmax * 1.05,
                  std::max(xmax, ymax) * 1.05);
    std::string s =
        "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {\n"
        "  set terminal pngcairo size 900,800 enhanced font ',13'\n"
        "} else {\n"
        "  set terminal png size 900,800 enhanced\n"
        "}\n"
        "set output " + quoted(output) + "\n"
        "set title " + double_quoted(subtitle.empty() ? title : title + "\n" + subtitle) + " noenhanced\n"
        "set xlabel 'expected -log_{10} p'\n"
        "set ylabel 'observed -log_{10} p'\n"
        "set key top left Left reverse box opaque\n"
        "set grid\n" + ranges + "plot x with lines dashtype 2 linecolor rgb 'gray40' title 'expected (y = x)'";
    for (std::size_t i = 0; i < curves.size(); ++i) {
        if (curves[i].points.empty())
            continue;
        char title[128];
        std::snprintf(title, sizeof title, "%s: {/Symbol l} = %.4f (%llu tested)", curves[i].name.c_str(),
                      curves[i].lambda, static_cast<unsigned long long>(curves[i].tested));
        s += ", \\\n  " + quoted(data[i]) + " using 1:2 with points pointtype 7 pointsize 0.6 linecolor rgb '" +
             (curves[i].colour.empty() ? kColours[i % 3] : curves[i].colour) + "' title " + quoted(title);
    }
    return s + "\nset output\n";
}

void run_gnuplot(const std::string& script)
{
    char program[] = "gnuplot";
    std::string path = script;
    char* argv[] = {program, path.data(), nullptr};
    pid_t pid;
    const int failed = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ);
    if (failed)
        throw ProgramError(std::string("cannot run gnuplot (install gnuplot-nox): ") + std::strerror(failed));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw ProgramError("lost the gnuplot process");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ProgramError("gnuplot failed drawing the plot");
}

}  // namespace

void draw_qq_plot(const std::vector<QQCurve>& curves, const std::string& png, const std::string& title,
                  const std::string& subtitle)
{
    ScratchDir dir;
    std::vector<std::string> data;
    for (std::size_t i = 0; i < curves.size(); ++i)
        data.push_back(dir.write("series" + std::to_string(i) + ".dat", data_of(curves[i].points)));
    const std::string partial = png + ".partial-" + std::to_string(getpid());
    run_gnuplot(dir.write("qq.gp", script_of(curves, data, partial, title, subtitle)));
    if (std::rename(partial.c_str(), png.c_str()) != 0) {
        std::remove(partial.c_str());
        throw ProgramError("cannot write " + png + ": " + std::strerror(errno));
    }
}
