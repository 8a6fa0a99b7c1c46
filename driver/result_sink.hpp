#pragma once

#include <string>

// The fast scan's result file after its header: finished units of result
// lines (or their compressed blocks) are appended whole, in order, with one
// write each, so the file on disk always holds the header and a run of whole
// lines.
struct ResultSink {
    int fd = -1;
    bool bgzip = false;  // end the file with the compressed format's end block
};

// Opens the result file, whose header is already written, for appending.
void open_result_sink(ResultSink& sink, const std::string& path, bool bgzip);

// Appends size bytes; false when the write fails.
bool append_bytes(ResultSink& sink, const char* data, std::size_t size);

// Ends a complete file (the compressed format's end block) and closes it;
// reports a failure as a write error.
void close_result_sink(ResultSink& sink);

// SIGINT and SIGTERM: the handler only records the signal; the scan notices,
// writes what it has finished, and ends the process by the same signal.
void install_interrupt_handlers();
int pending_interrupt();
[[noreturn]] void die_by_signal(ResultSink& sink, int sig);
