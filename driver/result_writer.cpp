#include "driver/result_writer.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "driver/result_file.hpp"

namespace {

constexpr std::size_t kBufferBytes = std::size_t(1) << 20;

// The writer whose lines must reach the disk if the process ends on a fatal
// error (an allele fault found mid-scan calls exit from deep inside).
ResultWriter* activeWriter = nullptr;
volatile std::sig_atomic_t pendingSignal = 0;

void flush_on_exit()
{
    if (activeWriter && !activeWriter->failed && activeWriter->used > 0) {
        // Already exiting: a failure here can only be left unreported.
        ResultWriter& w = *activeWriter;
        std::size_t done = 0;
        while (done < w.used) {
            ssize_t k = ::write(w.fd, w.buffer.data() + done, w.used - done);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                break;
            done += static_cast<std::size_t>(k);
        }
        w.used = 0;
    }
}

extern "C" void record_signal(int sig)
{
    pendingSignal = sig;
}

}  // namespace

void open_result_writer(ResultWriter& w, const std::string& path)
{
    w.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (w.fd < 0)
        output_open_failed();
    w.buffer.assign(kBufferBytes + kMaxResultLine, '\0');
    w.used = 0;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &w.lastFlush);
    static bool registered = false;
    if (!registered) {
        std::atexit(flush_on_exit);
        registered = true;
    }
    activeWriter = &w;
}

void flush_result_writer(ResultWriter& w)
{
    std::size_t done = 0;
    while (done < w.used) {
        ssize_t k = ::write(w.fd, w.buffer.data() + done, w.used - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            w.failed = true;
            output_write_failed();
        }
        done += static_cast<std::size_t>(k);
    }
    w.used = 0;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &w.lastFlush);
}

void flush_if_stale(ResultWriter& w)
{
    if (w.used == 0)
        return;
    std::timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    if (now.tv_sec - w.lastFlush.tv_sec >= 1)
        flush_result_writer(w);
}

void close_result_writer(ResultWriter& w)
{
    flush_result_writer(w);
    activeWriter = nullptr;
    if (::close(w.fd) != 0) {
        w.fd = -1;
        output_write_failed();
    }
    w.fd = -1;
}

void install_interrupt_handlers()
{
    struct sigaction sa {};
    sa.sa_handler = record_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int pending_interrupt()
{
    return pendingSignal;
}

void die_by_signal(ResultWriter& w, int sig)
{
    flush_result_writer(w);
    activeWriter = nullptr;
    ::close(w.fd);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}
