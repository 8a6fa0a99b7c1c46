#include "driver/result_sink.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "driver/result_file.hpp"
#include "results/bgzf_blocks.hpp"

namespace {

volatile std::sig_atomic_t pendingSignal = 0;

extern "C" void record_signal(int sig)
{
    pendingSignal = sig;
}

}  // namespace

void open_result_sink(ResultSink& sink, const std::string& path, bool bgzip)
{
    sink.fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (sink.fd < 0)
        output_open_failed();
    sink.bgzip = bgzip;
}

bool append_bytes(ResultSink& sink, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t k = ::write(sink.fd, data + done, size - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        done += static_cast<std::size_t>(k);
    }
    return true;
}

void close_result_sink(ResultSink& sink)
{
    bool ok = true;
    if (sink.bgzip) {
        const std::vector<char>& eof = bgzf_eof_block();
        ok = append_bytes(sink, eof.data(), eof.size());
    }
    ok = ::close(sink.fd) == 0 && ok;
    sink.fd = -1;
    if (!ok)
        output_write_failed();
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

void die_by_signal(ResultSink& sink, int sig)
{
    // An interrupted file has no end block: readers see it was cut short,
    // and every block before holds whole lines.
    ::close(sink.fd);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}
