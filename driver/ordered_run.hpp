#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "results/large_buffers.hpp"

// What a unit of work leaves for the writer: its bytes (result lines, or
// their compressed blocks) and its counts. Buffers are reused from unit to
// unit, so `bytes` only ever grows; `size` is what this unit wrote.
struct UnitOutput {
    TextBuffer bytes;
    std::size_t size = 0;
    std::uint64_t pairs = 0;
    std::uint64_t prunings = 0;
    std::uint64_t omitted = 0;  // pairs without a line (--omit-pruned)
};

// Computes unit u on worker w into out; returns false when it stopped early
// because `stop` was set (the unit is then discarded).
using UnitWork = std::function<bool(std::size_t u, unsigned w, UnitOutput& out,
                                    const std::atomic<bool>& stop)>;

// Takes finished units in unit order; returns false when writing failed.
using UnitSink = std::function<bool(const UnitOutput& out)>;

// Called by the writing thread about twice a second with the pairs written.
using ProgressTick = std::function<void(std::uint64_t pairsWritten)>;

// How a run ended.
enum class RunEnd { finished, interrupted, writeFailed };

struct RunOutcome {
    RunEnd end = RunEnd::finished;
    int signal = 0;                  // the signal, when interrupted
    std::uint64_t pairs = 0, prunings = 0, omitted = 0;  // of the units written
};

// Runs units 0 .. units-1 on `threads` worker threads and hands each finished
// unit to `sink` from the calling thread, strictly in unit order, so the
// output is the same for any number of threads. At most a window of a few
// units per thread is in flight, which bounds the memory held by finished
// units waiting for a slow one. SIGINT and SIGTERM (recorded by the handlers
// of result_sink.hpp) stop the workers; the run then returns after writing
// every unit finished before the first unfinished one. An exception in a
// worker (say, out of memory) is rethrown here after the same. On one thread
// there are no workers: the calling thread computes and writes in turn.
RunOutcome run_in_order(std::size_t units, unsigned threads, const UnitWork& work,
                        const UnitSink& sink, const ProgressTick& tick);
