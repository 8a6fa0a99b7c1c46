#include "merge/shard_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "driver/bgzf_blocks.hpp"
#include "merge/merge_error.hpp"

namespace {

// A BGZF block's gzip header with its BC field, and the CRC32 and ISIZE after the data.
constexpr std::size_t kBlockHeader = 18, kBlockTrailer = 8;
// The three header lines are short: a file without three newlines this early has none.
constexpr std::size_t kLongestHeader = 4096;

[[noreturn]] void fail(const std::string& message)
{
    throw MergeError(message);
}

// A file opened for reading, closed at the end of the scope.
struct OpenFile {
    explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (fd < 0)
            fail("cannot read " + path + ": " + std::strerror(errno));
    }
    ~OpenFile() { ::close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd;
};

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
std::size_t read_at(int fd, char* data, std::size_t size, std::uint64_t offset, const std::string& path)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t k = ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0)
            fail("cannot read " + path + ": " + std::strerror(errno));
        if (k == 0)
            break;
        done += static_cast<std::size_t>(k);
    }
    return done;
}

std::string bytes_at(int fd, std::size_t size, std::uint64_t offset, const std::string& path)
{
    std::string bytes(size, '\0');
    bytes.resize(read_at(fd, &bytes[0], size, offset, path));
    return bytes;
}

// The size of the BGZF block whose header is at `p` (kBlockHeader bytes), 0
// when none begins there: the checks of htslib's own reader.
std::size_t bgzf_block_size(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    const bool block = b[0] == 31 && b[1] == 139 && b[2] == 8 && (b[3] & 4) && b[10] == 6 && b[11] == 0 &&
                       b[12] == 'B' && b[13] == 'C' && b[14] == 2 && b[15] == 0;
    const std::size_t size = (b[16] | b[17] << 8) + 1u;
    return block && size >= kBlockHeader + kBlockTrailer ? size : 0;
}

// The uncompressed size of a block (its last four bytes, little-endian).
std::uint32_t block_text_size(const char* block, std::size_t size)
{
    const auto* b = reinterpret_cast<const unsigned char*>(block + size - 4);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}

// The text of the BGZF block at byte `offset`, decompressed (and its CRC
// checked) by htslib.
std::string bgzf_block_text(const std::string& path, std::uint64_t offset)
{
    BGZF* fp = bgzf_open(path.c_str(), "r");
    const bool ok = fp && bgzf_seek(fp, static_cast<std::int64_t>(offset << 16), SEEK_SET) == 0 &&
                    bgzf_read_block(fp) == 0;
    const std::string text = ok ? std::string(static_cast<const char*>(fp->uncompressed_block),
                                              static_cast<std::size_t>(fp->block_length))
                                : "";
    if (fp)
        bgzf_close(fp);
    if (!ok)
        fail(path + " is damaged: its BGZF block at byte " + std::to_string(offset) + " does not decompress");
    return text;
}

// no_compression, gzip or bgzf (htsCompression) as htslib sees the file.
int compression_of(const std::string& path)
{
    BGZF* fp = bgzf_open(path.c_str(), "r");
    if (!fp)
        fail("cannot read " + path + ": " + std::strerror(errno));
    const int kind = bgzf_compression(fp);
    bgzf_close(fp);
    return kind;
}

void inspect_plain(ShardFile& s, int fd, std::uint64_t size)
{
    const std::string start = bytes_at(fd, kLongestHeader, 0, s.path);
    std::size_t end = 0;
    for (int line = 0; line < 3; ++line) {
        const std::size_t newline = start.find('\n', end);
        if (newline == std::string::npos)
            fail(s.path + " has no header (the three lines of a morv result file)");
        end = newline + 1;
    }
    s.header = start.substr(0, end);
    s.bodyBegin = end;
    s.bodyEnd = size;
    if (size > end && bytes_at(fd, 1, size - 1, s.path) != "\n")
        fail(s.path + " ends inside a result line: was it cut short?");
}

void inspect_bgzf(ShardFile& s, int fd, std::uint64_t size)
{
    const std::string first = bytes_at(fd, kBlockHeader, 0, s.path);
    const std::size_t headerBlock = first.size() == kBlockHeader ? bgzf_block_size(first.data()) : 0;
    s.header = bgzf_block_text(s.path, 0);
    if (headerBlock == 0 || std::count(s.header.begin(), s.header.end(), '\n') != 3 || s.header.back() != '\n')
        fail(s.path + ": its first BGZF block is not the three header lines (was it written by morv --bgzip?)");
    const std::vector<char>& eof = bgzf_eof_block();
    if (size < headerBlock + eof.size() ||
        bytes_at(fd, eof.size(), size - eof.size(), s.path) != std::string(eof.begin(), eof.end()))
        fail(s.path + " lacks the BGZF end-of-file block: was it cut short?");
    s.bodyBegin = headerBlock;
    s.bodyEnd = size - eof.size();
}

// The bytes [next, end) of a file read in large pieces; data[at, filled) are
// read and not yet used.
struct Pieces {
    const std::string& path;
    int fd;
    std::uint64_t next, end;
    std::vector<char> data;
    std::size_t at = 0, filled = 0;
};

// Makes at least `want` (at most a block) unused bytes available; false when
// the range ends first.
bool have(Pieces& p, std::size_t want)
{
    if (p.filled - p.at >= want)
        return true;
    std::memmove(p.data.data(), p.data.data() + p.at, p.filled - p.at);
    p.filled -= p.at;
    p.at = 0;
    const std::size_t asked =
        static_cast<std::size_t>(std::min<std::uint64_t>(p.data.size() - p.filled, p.end - p.next));
    if (read_at(p.fd, p.data.data() + p.filled, asked, p.next, p.path) != asked)
        fail(p.path + " got shorter while being merged");
    p.next += asked;
    p.filled += asked;
    return p.filled - p.at >= want;
}

void copy_plain(const ShardFile& s, Pieces& p, OutputFile& out)
{
    std::uint64_t lines = 0;
    while (have(p, 1)) {
        const char* piece = p.data.data() + p.at;
        lines += static_cast<std::uint64_t>(std::count(piece, piece + (p.filled - p.at), '\n'));
        put(out, piece, p.filled - p.at);
        p.at = p.filled;
    }
    // Every pair has its line; --omit-pruned leaves out those of flag 0,
    // which are some of the prunings.
    const ShardRecord& r = s.record;
    if (lines > r.pairs || lines < (r.omitPruned ? r.pairs - r.prunings : r.pairs))
        fail(s.path + " holds " + std::to_string(lines) + " result lines but its record counts " +
             std::to_string(r.pairs) + " pairs" + (r.omitPruned ? ", " + std::to_string(r.prunings) + " pruned" : "") +
             ": was it cut short or changed?");
}

void copy_bgzf(const ShardFile& s, Pieces& p, OutputFile& out)
{
    std::uint64_t offset = s.bodyBegin, lastText = 0;
    while (have(p, 1)) {
        const std::size_t size = have(p, kBlockHeader) ? bgzf_block_size(p.data.data() + p.at) : 0;
        if (size == 0 || !have(p, size))
            fail(s.path + " is damaged: no whole BGZF block at byte " + std::to_string(offset));
        const char* block = p.data.data() + p.at;
        if (block_text_size(block, size) > 0)
            lastText = offset;
        put(out, block, size);
        p.at += size;
        offset += size;
    }
    // Blocks hold whole lines: only the last one's end needs a look.
    if (lastText > 0 && bgzf_block_text(s.path, lastText).back() != '\n')
        fail(s.path + " ends inside a result line (its last BGZF block): was it cut short?");
}

}  // namespace

ShardFile read_shard(const std::string& path)
{
    ShardFile s;
    s.path = path;
    std::string why;
    if (!read_shard_record(path, s.record, why))
        fail(why);
    return s;
}

void inspect_shard(ShardFile& s)
{
    const OpenFile file(s.path);
    struct stat st{};
    if (fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail("cannot read " + s.path + ": not a regular file");
    const int kind = compression_of(s.path);
    if (kind == gzip)
        fail(s.path + " is gzip-compressed but not BGZF (morv --bgzip writes BGZF)");
    if ((kind == bgzf) != s.record.bgzip)
        fail(s.path + (kind == bgzf ? " is" : " is not") + " BGZF-compressed but its record " +
             shard_record_path(s.path) + (kind == bgzf ? " says bgzip 0" : " says bgzip 1"));
    if (s.record.bgzip)
        inspect_bgzf(s, file.fd, static_cast<std::uint64_t>(st.st_size));
    else
        inspect_plain(s, file.fd, static_cast<std::uint64_t>(st.st_size));
}

void copy_header(const ShardFile& s, OutputFile& out)
{
    const OpenFile file(s.path);
    const std::string header = bytes_at(file.fd, static_cast<std::size_t>(s.bodyBegin), 0, s.path);
    put(out, header.data(), header.size());
}

void copy_body(const ShardFile& s, OutputFile& out, std::size_t pieceBytes)
{
    const OpenFile file(s.path);
    Pieces pieces{s.path, file.fd, s.bodyBegin, s.bodyEnd, std::vector<char>(pieceBytes)};
    if (s.record.bgzip)
        copy_bgzf(s, pieces, out);
    else
        copy_plain(s, pieces, out);
}
