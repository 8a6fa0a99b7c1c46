#include "driver/ordered_run.hpp"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <mutex>
#include <new>
#include <pthread.h>
#include <thread>

#include "driver/result_sink.hpp"

namespace {

// A cache line each: neighbouring slots are filled by different workers.
struct alignas(64) Slot {
    UnitOutput* out = nullptr;
    unsigned owner = 0;
    bool done = false;
};

// What the workers share; every field but the buffers' contents is guarded
// by `m`. A buffer belongs to the worker computing a unit into it until its
// slot is `done`, then to whichever thread writes it, then to the spares of
// the worker that filled it.
struct SharedRun {
    std::mutex m;
    std::condition_variable changed;  // a unit written, or the run stopping
    std::condition_variable room;     // the window moved on
    std::size_t units = 0, window = 0;
    std::size_t nextClaim = 0, nextWrite = 0;
    std::vector<Slot> slots;
    std::vector<UnitOutput> buffers;              // one per slot
    std::vector<std::vector<UnitOutput*>> spare;  // buffers free, by worker
    bool writing = false;  // a thread holds the writer's turn
    unsigned waitingForRoom = 0;
    bool writeFailed = false;
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::uint64_t pairs = 0, prunings = 0, omitted = 0;
    const UnitSink* sink = nullptr;
};

// True once the run must stop. A signal is recorded by the handler in the
// calling thread, whose wait may only notice it at its next timeout, so the
// workers look for it too, between units and between writes.
bool stopping(SharedRun& R)
{
    if (!R.stop && pending_interrupt() != 0) {
        R.stop = true;
        R.changed.notify_all();
        R.room.notify_all();
    }
    return R.stop;
}

bool next_is_done(const SharedRun& R)
{
    return R.nextWrite < R.units && R.slots[R.nextWrite % R.window].done;
}

// Writes the next unit, which is finished, with the lock released during the
// write; false when the write failed. The slot is cleared before a worker may
// take the unit a window later into it.
bool write_next(SharedRun& R, std::unique_lock<std::mutex>& lock)
{
    Slot& slot = R.slots[R.nextWrite % R.window];
    lock.unlock();
    const bool ok = (*R.sink)(*slot.out);
    lock.lock();
    if (!ok) {
        R.writeFailed = true;
        R.stop = true;
        return false;
    }
    R.pairs += slot.out->pairs;
    R.prunings += slot.out->prunings;
    R.omitted += slot.out->omitted;
    R.spare[slot.owner].push_back(slot.out);
    slot.done = false;
    ++R.nextWrite;
    if (R.waitingForRoom > 0)
        R.room.notify_all();
    return true;
}

// Writes finished units in order for as long as the next one is finished.
// Called with the lock held by a worker that has just finished a unit; one
// worker at a time takes the writer's turn and gives it up when the next
// unit is not ready, so the writing is spread over the workers and no
// thread sits waiting as the writer.
void write_ready_units(SharedRun& R, std::unique_lock<std::mutex>& lock)
{
    if (R.writing)
        return;
    R.writing = true;
    while (!stopping(R) && next_is_done(R) && write_next(R, lock)) {
    }
    R.writing = false;
    // The watching thread needs waking only for the end; it polls for the
    // rest.
    if (R.nextWrite == R.units || R.stop)
        R.changed.notify_all();
}

// A buffer for worker w's next unit: preferably the one it filled last,
// whose lines are still in its core's cache; writing text over a buffer
// another core filled or handed to the kernel costs that core's cache lines
// first (a 2-thread screen took 8% more CPU than one thread before). There
// are as many buffers as slots, and at most that many units are claimed and
// not written, so one is always free.
UnitOutput* take_buffer(SharedRun& R, unsigned w)
{
    std::vector<UnitOutput*>* from = &R.spare[w];
    for (std::size_t i = 0; from->empty(); ++i)
        from = &R.spare[i];
    UnitOutput* buffer = from->back();
    from->pop_back();
    return buffer;
}

void worker_loop(SharedRun& R, const UnitWork& work, unsigned w)
{
    for (;;) {
        std::size_t u;
        UnitOutput* buffer;
        {
            std::unique_lock<std::mutex> lock(R.m);
            ++R.waitingForRoom;
            R.room.wait(lock, [&] {
                return stopping(R) || R.nextClaim == R.units || R.nextClaim < R.nextWrite + R.window;
            });
            --R.waitingForRoom;
            if (R.stop || R.nextClaim == R.units)
                return;
            u = R.nextClaim++;
            buffer = take_buffer(R, w);
        }
        Slot& slot = R.slots[u % R.window];
        bool complete = false;
        try {
            complete = work(u, w, *buffer, R.stop);
        } catch (...) {
            std::lock_guard<std::mutex> lock(R.m);
            if (!R.failure)
                R.failure = std::current_exception();
            R.stop = true;
        }
        std::unique_lock<std::mutex> lock(R.m);
        slot.out = buffer;
        slot.owner = w;
        slot.done = complete;
        if (!complete) {
            R.changed.notify_all();
            return;
        }
        // After a stop the calling thread writes what is left, in order.
        if (!R.stop)
            write_ready_units(R, lock);
    }
}

// Workers never take SIGINT or SIGTERM, so a write of theirs is never cut
// short by one: the handler runs in the calling thread, and everyone sees
// what it recorded (stopping()).
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
        outcome.omitted += out.omitted;
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
    if (units == 0)
        return RunOutcome{};
    if (threads <= 1)
        return run_inline(units, work, sink, tick);
    SharedRun R;
    R.units = units;
    R.window = 2 * std::size_t(threads) + 2;
    R.slots.resize(R.window);
    R.buffers.resize(R.window);
    R.spare.resize(threads);
    for (std::size_t b = 0; b < R.window; ++b)
        R.spare[b % threads].push_back(&R.buffers[b]);
    R.sink = &sink;

    std::vector<std::thread> pool;
    pool.reserve(threads);
    {
        const SignalsBlocked blocked;
        try {
            for (unsigned w = 0; w < threads; ++w)
                pool.emplace_back(worker_loop, std::ref(R), std::cref(work), w);
        } catch (const std::exception&) {
            // The system refused a thread (its stack did not fit the address
            // space, or a process limit): the workers already started must
            // still be stopped and joined, and the run fails as when memory
            // runs out.
            std::lock_guard<std::mutex> lock(R.m);
            R.failure = std::make_exception_ptr(std::bad_alloc());
            R.stop = true;
        }
    }

    // The calling thread only watches: progress, signals, the end.
    RunOutcome outcome;
    {
        std::unique_lock<std::mutex> lock(R.m);
        for (;;) {
            R.changed.wait_for(lock, std::chrono::milliseconds(500), [&] {
                return R.nextWrite == units || R.stop || pending_interrupt() != 0;
            });
            if (R.nextWrite == units || R.stop || pending_interrupt() != 0)
                break;
            if (tick) {
                const std::uint64_t done = R.pairs;
                lock.unlock();
                tick(done);
                lock.lock();
            }
        }
        R.stop = true;
    }
    R.room.notify_all();
    for (std::thread& t : pool)
        t.join();

    // Stopped early: whatever finished in order before the first unit that
    // did not is still written, so the file holds whole lines.
    std::unique_lock<std::mutex> lock(R.m);
    while (!R.failure && !R.writeFailed && next_is_done(R) && write_next(R, lock)) {
    }
    outcome.pairs = R.pairs;
    outcome.prunings = R.prunings;
    outcome.omitted = R.omitted;
    if (R.writeFailed) {
        outcome.end = RunEnd::writeFailed;
    } else if (R.nextWrite < units && !R.failure) {
        outcome.end = RunEnd::interrupted;
        outcome.signal = pending_interrupt();
    }
    if (R.failure && outcome.end == RunEnd::finished)
        std::rethrow_exception(R.failure);
    return outcome;
}
