#include "files/checksum.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <xxhash.h>

#include "files/file_error.hpp"

struct Checksum::State {
    XXH3_state_t* s = XXH3_createState();
    ~State() { XXH3_freeState(s); }
};

Checksum::Checksum() : state_(std::make_unique<State>())
{
    if (!state_->s)
        throw std::bad_alloc();
    XXH3_64bits_reset(state_->s);
}

Checksum::~Checksum() = default;

void Checksum::add(const void* data, std::size_t size)
{
    XXH3_64bits_update(state_->s, data, size);
}

std::string Checksum::hex() const
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(XXH3_64bits_digest(state_->s)));
    return text;
}

FileFacts file_facts(const std::string& path)
{
    FileFacts facts;
    facts.path = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw FileError("cannot examine " + path + ": " + std::strerror(errno));
    facts.regular = S_ISREG(st.st_mode);
    if (!facts.regular)
        return facts;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileError("cannot read " + path + ": " + std::strerror(errno));
    Checksum sum;
    std::vector<char> piece(std::size_t(1) << 20);
    for (;;) {
        const ssize_t k = ::read(fd, piece.data(), piece.size());
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0) {
            const int e = errno;
            ::close(fd);
            throw FileError("cannot read " + path + ": " + std::strerror(e));
        }
        if (k == 0)
            break;
        sum.add(piece.data(), static_cast<std::size_t>(k));
        facts.size += static_cast<std::uint64_t>(k);
    }
    ::close(fd);
    facts.checksum = sum.hex();
    return facts;
}
