#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// One line on standard error, rewritten in place while the scan runs: pairs
// done of all, rate, time so far and time left. Only for a terminal; a run
// whose standard error is a file or a pipe gets nothing.
struct Progress {
    bool enabled = false;
    std::uint64_t total = 0;
    std::string level;  // the instruction-set level the scan runs at
    std::chrono::steady_clock::time_point start;
};

Progress start_progress(bool wanted, std::uint64_t totalPairs, const std::string& level);
void show_progress(const Progress& p, std::uint64_t pairsDone);
// Erases the line, leaving the terminal as it was.
void end_progress(const Progress& p);

// The line's text, without the carriage return (exposed for tests).
std::string progress_text(std::uint64_t done, std::uint64_t total, double seconds, const std::string& level);
