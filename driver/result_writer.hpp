#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

// Buffered appends to the result file for the fast scan.
//
// The file on disk always holds the header and a run of whole result lines
// in order: lines are only ever written whole, in large blocks. A block goes
// out when the buffer passes 1 MiB, when a second has passed since the last
// write (checked by the scan between rows), when the run ends, when it ends
// on a fatal error (through an exit handler), and when SIGINT or SIGTERM
// arrives (the scan notices, flushes and re-raises the signal).
struct ResultWriter {
    int fd = -1;
    std::vector<char> buffer;
    std::size_t used = 0;
    std::timespec lastFlush{};
    bool failed = false;
};

// Longest line the scan ever formats, with ample margin.
constexpr std::size_t kMaxResultLine = 1024;

void open_result_writer(ResultWriter& w, const std::string& path);

// Room for one more line: flushes first when the buffer is nearly full.
inline char* line_space(ResultWriter& w);
void flush_result_writer(ResultWriter& w);
void close_result_writer(ResultWriter& w);

// Flushes when a second has passed since the last write.
void flush_if_stale(ResultWriter& w);

// SIGINT and SIGTERM: the handler only records the signal; the scan polls
// for it between rows, flushes, and ends the process by the same signal.
void install_interrupt_handlers();
int pending_interrupt();
[[noreturn]] void die_by_signal(ResultWriter& w, int sig);

inline char* line_space(ResultWriter& w)
{
    if (w.buffer.size() - w.used < kMaxResultLine)
        flush_result_writer(w);
    return w.buffer.data() + w.used;
}
