#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// A property every input must keep. A broken one is a finding: abort, so
// that the fuzzer keeps the input as a crash.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The lowest free file descriptor. A stream left open by an error path is no
// leak to the leak checker (the C library lists every open stream), but it
// raises this number: targets compare it before and after each input.
inline int lowest_free_fd()
{
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    return fd;
}

// Checks, when the input is done, that it left no file open.
class NoFileLeftOpen {
public:
    NoFileLeftOpen() : before_(lowest_free_fd()) {}
    ~NoFileLeftOpen() { require(lowest_free_fd() == before_, "every file closed again"); }
    NoFileLeftOpen(const NoFileLeftOpen&) = delete;
    NoFileLeftOpen& operator=(const NoFileLeftOpen&) = delete;

private:
    int before_;
};
