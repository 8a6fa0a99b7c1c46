#include "driver/progress.hpp"

#include <cstdio>
#include <unistd.h>

namespace {

std::string clock_text(double seconds)
{
    const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// Whole pairs per second with a k or M suffix.
std::string rate_text(double rate)
{
    char text[32];
    if (rate >= 1e6)
        std::snprintf(text, sizeof text, "%.1fM", rate / 1e6);
    else if (rate >= 1e3)
        std::snprintf(text, sizeof text, "%.1fk", rate / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f", rate);
    return text;
}

}  // namespace

std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds, const std::string& level)
{
    const double share = total ? 100.0 * double(done) / double(total) : 100.0;
    const double rate = seconds > 0 ? double(done) / seconds : 0.0;
    std::string text = "morv: " + std::to_string(done) + " of " + std::to_string(total) + " pairs (";
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f%%", share);
    text += percent;
    text += "), " + rate_text(rate) + " pairs/s, " + clock_text(seconds) + " elapsed, ";
    text += done > 0 && rate > 0 ? clock_text(double(total - done) / rate) + " left" : "--:--:-- left";
    return text + ", " + level;
}

Progress start_progress(bool wanted, std::uint64_t totalPairs, const std::string& level)
{
    Progress p;
    p.enabled = wanted && ::isatty(STDERR_FILENO);
    p.total = totalPairs;
    p.level = level;
    p.start = std::chrono::steady_clock::now();
    return p;
}

void show_progress(const Progress& p, std::uint64_t pairsDone)
{
    if (!p.enabled)
        return;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - p.start;
    // Carriage return, the line, then erase whatever a longer line left.
    std::fprintf(stderr, "\r%s\033[K", progress_text(pairsDone, p.total, elapsed.count(), p.level).c_str());
    std::fflush(stderr);
}

void end_progress(const Progress& p)
{
    if (!p.enabled)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}
