#include "driver/ordered_run.hpp"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <thread>

#include "driver/result_sink.hpp"

namespace {

struct Slot {
    UnitOutput out;
    bool done = false;
};

struct SharedRun {
    std::mutex m;
    std::condition_variable finished;  // a unit is done, or the run must stop
    std::condition_variable room;      // the window moved on
    std::size_t units = 0, window = 0;
    std::size_t nextClaim = 0, nextWrite = 0;
    std::vector<Slot> slots;
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
};

void worker_loop(SharedRun& R, const UnitWork& work, unsigned w)
{
    for (;;) {
        std::size_t u;
        {
            std::unique_lock<std::mutex> lock(R.m);
            R.room.wait(lock, [&] {
                return R.stop || R.nextClaim == R.units || R.nextClaim < R.nextWrite + R.window;
            });
            if (R.stop || R.nextClaim == R.units)
                return;
            u = R.nextClaim++;
        }
        Slot& slot = R.slots[u % R.window];
        bool complete = false;
        try {
            complete = work(u, w, slot.out, R.stop);
        } catch (...) {
            std::lock_guard<std::mutex> lock(R.m);
            if (!R.failure)
                R.failure = std::current_exception();
            R.stop = true;
        }
        {
            std::lock_guard<std::mutex> lock(R.m);
            slot.done = complete;
        }
        R.finished.notify_one();
        if (!complete)
            return;
    }
}

// Workers never take SIGINT or SIGTERM: the writing thread does, so its waits
// wake up at once and the signal is handled where the file is written.
struct SignalsBlocked {
    sigset_t old;
    SignalsBlocked()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

// One thread: compute a unit, write it, and so on, as a single-threaded
// program does; signals are noticed between units.
RunOutcome run_inline(std::size_t units, const UnitWork& work, const UnitSink& sink, const ProgressTick& tick)
{
    RunOutcome outcome;
    UnitOutput out;
    const std::atomic<bool> never{false};
    auto nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    for (std::size_t u = 0; u < units; ++u) {
        if (int sig = pending_interrupt()) {
            outcome.end = RunEnd::interrupted;
            outcome.signal = sig;
            break;
        }
        work(u, 0, out, never);
        if (!sink(out)) {
            outcome.end = RunEnd::writeFailed;
            break;
        }
        outcome.pairs += out.pairs;
        outcome.prunings += out.prunings;
        if (tick && std::chrono::steady_clock::now() >= nextTick) {
            tick(outcome.pairs);
            nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        }
    }
    return outcome;
}

}  // namespace

RunOutcome run_in_order(std::size_t units, unsigned threads, const UnitWork& work,
                        const UnitSink& sink, const ProgressTick& tick)
{
    RunOutcome outcome;
    if (units == 0)
        return outcome;
    if (threads <= 1)
        return run_inline(units, work, sink, tick);
    SharedRun R;
    R.units = units;
    R.window = 2 * std::size_t(threads) + 2;
    R.slots.resize(R.window);

    std::vector<std::thread> pool;
    {
        const SignalsBlocked blocked;
        for (unsigned w = 0; w < threads; ++w)
            pool.emplace_back(worker_loop, std::ref(R), std::cref(work), w);
    }

    // Writes the next unit, which is finished; false when the write failed.
    // Only this thread moves nextWrite, and a written slot is cleared before
    // a worker may take the unit a window later into it.
    const auto write_next = [&] {
        Slot& slot = R.slots[R.nextWrite % R.window];
        if (!sink(slot.out)) {
            outcome.end = RunEnd::writeFailed;
            return false;
        }
        outcome.pairs += slot.out.pairs;
        outcome.prunings += slot.out.prunings;
        {
            std::lock_guard<std::mutex> lock(R.m);
            slot.done = false;
            ++R.nextWrite;
        }
        R.room.notify_all();
        return true;
    };
    const auto next_done = [&] {
        std::lock_guard<std::mutex> lock(R.m);
        return R.slots[R.nextWrite % R.window].done;
    };

    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::milliseconds(500);
    while (R.nextWrite < units) {
        bool ready;
        {
            std::unique_lock<std::mutex> lock(R.m);
            const Slot& slot = R.slots[R.nextWrite % R.window];
            R.finished.wait_until(lock, nextTick, [&] {
                return slot.done || R.stop || pending_interrupt() != 0;
            });
            ready = slot.done;
        }
        // A signal, also one that came during a long write, stops the run
        // at the next unit.
        if (ready && !write_next())
            break;
        if ((!ready && R.stop) || pending_interrupt() != 0)
            break;
        if (Clock::now() >= nextTick) {
            if (tick)
                tick(outcome.pairs);
            nextTick = Clock::now() + std::chrono::milliseconds(500);
        }
    }

    if (R.nextWrite < units) {
        // Stopped early: whatever finished in order before the first unit
        // that did not is still written, so the file holds whole lines.
        {
            std::lock_guard<std::mutex> lock(R.m);
            R.stop = true;
        }
        R.room.notify_all();
        if (outcome.end != RunEnd::writeFailed) {
            if (int sig = pending_interrupt()) {
                outcome.end = RunEnd::interrupted;
                outcome.signal = sig;
            }
        }
        for (std::thread& t : pool)
            t.join();
        pool.clear();
        while (outcome.end != RunEnd::writeFailed && R.nextWrite < units && next_done() && write_next()) {
        }
    }
    for (std::thread& t : pool)
        t.join();
    if (R.failure && outcome.end == RunEnd::finished)
        std::rethrow_exception(R.failure);
    return outcome;
}
