#include "files/checked_input.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "files/file_error.hpp"

namespace {

constexpr std::size_t kRawBytes = std::size_t(1) << 18;

bool gzip_magic(const unsigned char* p)
{
    return p[0] == 0x1f && p[1] == 0x8b;
}

// A BGZF block's header: gzip with an extra field whose first subfield is BC.
constexpr std::size_t kBgzfHeader = 18;
bool bgzf_header(const unsigned char* p, std::size_t available)
{
    return available >= kBgzfHeader && (p[3] & 4) && (p[10] | p[11] << 8) >= 6 && p[12] == 'B' && p[13] == 'C';
}

}  // namespace

CheckedInput::CheckedInput(const std::string& path, bool bgzfEndRequired)
    : path_(path), raw_(kRawBytes), bgzfEndRequired_(bgzfEndRequired)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw FileError("cannot open " + path + ": " + std::strerror(errno));
    // Two bytes tell gzip from plain text; a pipe may hand over one at a time.
    while (rawEnd_ < 2 && fill()) {
    }
    gzip_ = rawEnd_ >= 2 && gzip_magic(raw_.data());
}

CheckedInput::~CheckedInput()
{
    if (zInit_)
        inflateEnd(&z_);
    ::close(fd_);
}

void CheckedInput::damaged(const std::string& what) const
{
    throw FileError(path_ + " " + what);
}

bool CheckedInput::fill()
{
    if (fileEnded_)
        return false;
    if (rawAt_ > 0) {
        std::memmove(raw_.data(), raw_.data() + rawAt_, rawEnd_ - rawAt_);
        rawEnd_ -= rawAt_;
        rawAt_ = 0;
    }
    for (;;) {
        const ssize_t k = ::read(fd_, raw_.data() + rawEnd_, raw_.size() - rawEnd_);
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0)
            throw FileError("cannot read " + path_ + ": " + std::strerror(errno));
        fileEnded_ = k == 0;
        rawEnd_ += static_cast<std::size_t>(k);
        return k > 0;
    }
}

std::size_t CheckedInput::read(char* data, std::size_t size)
{
    size = std::min<std::size_t>(size, INT_MAX);
    if (!gzip_) {
        if (rawAt_ == rawEnd_ && !fill())
            return 0;
        const std::size_t take = std::min(size, rawEnd_ - rawAt_);
        std::memcpy(data, raw_.data() + rawAt_, take);
        rawAt_ += take;
        return take;
    }
    return inflate_some(data, size);
}

std::size_t CheckedInput::inflate_some(char* data, std::size_t size)
{
    for (;;) {
        if (!inMember_) {
            // Between members: the end of the file, or the next member.
            while (rawEnd_ - rawAt_ < kBgzfHeader && fill()) {
            }
            if (rawAt_ == rawEnd_) {
                if (bgzf_ && !lastWasEndBlock_ && bgzfEndRequired_)
                    throw FileError(missing_end_block(path_));
                return 0;
            }
            if (rawEnd_ - rawAt_ < 2 || !gzip_magic(raw_.data() + rawAt_))
                damaged("holds data that are not gzip after the end of its gzip stream (at byte " +
                        std::to_string(consumed_) + "): was something appended to it?");
            const int ret = zInit_ ? inflateReset(&z_) : inflateInit2(&z_, 16 + MAX_WBITS);
            if (ret == Z_MEM_ERROR)
                throw std::bad_alloc();
            zInit_ = true;
            inMember_ = true;
            memberIsBgzf_ = bgzf_header(raw_.data() + rawAt_, rawEnd_ - rawAt_);
            if (consumed_ == 0)
                bgzf_ = memberIsBgzf_;
            memberStart_ = consumed_;
        }
        z_.next_in = raw_.data() + rawAt_;
        z_.avail_in = static_cast<unsigned>(rawEnd_ - rawAt_);
        z_.next_out = reinterpret_cast<unsigned char*>(data);
        z_.avail_out = static_cast<unsigned>(size);
        const int ret = inflate(&z_, Z_NO_FLUSH);
        const std::size_t used = (rawEnd_ - rawAt_) - z_.avail_in, made = size - z_.avail_out;
        rawAt_ += used;
        consumed_ += used;
        if (ret == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR)
            damaged("is damaged: " + std::string(z_.msg ? z_.msg : "not gzip data") + " (in the gzip member at byte " +
                    std::to_string(memberStart_) + ")");
        inMember_ = ret != Z_STREAM_END;
        if (!inMember_)
            lastWasEndBlock_ = memberIsBgzf_ && z_.total_out == 0;
        if (made > 0)
            return made;
        if (inMember_ && rawAt_ == rawEnd_ && !fill())
            damaged("is cut short: its gzip data end inside a member (at byte " + std::to_string(consumed_) +
                    ", the member began at byte " + std::to_string(memberStart_) + ")");
    }
}

std::string read_checked_text(const std::string& path)
{
    CheckedInput in(path);
    std::string text;
    char piece[1 << 16];
    for (std::size_t got; (got = in.read(piece, sizeof piece)) > 0;)
        text.append(piece, got);
    return text;
}

std::string missing_end_block(const std::string& path)
{
    return path + " does not end with the BGZF end-of-file block: it looks cut short (or something was appended to "
                  "it)";
}
