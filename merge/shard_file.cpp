#include "merge/shard_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <libdeflate.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/program_error.hpp"
#include "results/bgzf_blocks.hpp"

namespace {

// A BGZF block's gzip header with its BC field, and the CRC32 and ISIZE after the data.
constexpr std::size_t kBlockHeader = 18, kBlockTrailer = 8;
// The three header lines are short: a file without three newlines this early has none.
constexpr std::size_t kLongestHeader = 4096;
// No result line comes near this; a longer one is not morv's.
constexpr std::size_t kLongestLine = 4096;

[[noreturn]] void fail(const std::string& message)
{
    throw ProgramError(message);
}

const char* kind_of(mode_t mode)
{
    return S_ISDIR(mode) ? "a folder" : S_ISFIFO(mode) ? "a FIFO" : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                                                                   : "not a regular file";
}

// A shard opened for reading, closed at the end of the scope. Only a regular
// file is opened, and without blocking: opening a FIFO would wait for a
// writer that may never come.
struct OpenFile {
    explicit OpenFile(const std::string& path)
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            fail("cannot read " + path + ": it is " + kind_of(st.st_mode) + ", not a file morv wrote");
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            fail("cannot read " + path + ": " + std::strerror(errno));
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fail("cannot read " + path + ": not a regular file");
        }
        size = static_cast<std::uint64_t>(st.st_size);
    }
    ~OpenFile() { ::close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd = -1;
    std::uint64_t size = 0;
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

std::uint32_t little_endian32(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
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

// Decompresses one whole BGZF block into `text`, checking what its trailer
// promises (length and CRC32): a damaged block must never pass for lines.
class BlockReader {
public:
    BlockReader() : d_(libdeflate_alloc_decompressor()), text_(BGZF_MAX_BLOCK_SIZE)
    {
        if (!d_)
            throw std::bad_alloc();
    }
    ~BlockReader() { libdeflate_free_decompressor(d_); }
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The text of the block of `size` bytes at `block`, which sits at byte `offset` of `path`.
    std::pair<const char*, std::size_t> text(const char* block, std::size_t size, const std::string& path,
                                             std::uint64_t offset)
    {
        const std::string where = path + " is damaged: its BGZF block at byte " + std::to_string(offset);
        const std::uint32_t length = little_endian32(block + size - 4), crc = little_endian32(block + size - 8);
        if (length > text_.size())
            fail(where + " claims " + std::to_string(length) + " bytes of text, more than a block holds");
        const std::size_t packed = size - kBlockHeader - kBlockTrailer;
        std::size_t in = 0, out = 0;
        if (libdeflate_deflate_decompress_ex(d_, block + kBlockHeader, packed, text_.data(), length, &in, &out) !=
                LIBDEFLATE_SUCCESS ||
            in != packed || out != length)
            fail(where + " does not decompress to the " + std::to_string(length) + " bytes it claims");
        if (libdeflate_crc32(0, text_.data(), length) != crc)
            fail(where + " fails its CRC check");
        return {text_.data(), length};
    }

private:
    libdeflate_decompressor* d_;
    std::vector<char> text_;
};

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
    const std::string block = bytes_at(fd, headerBlock, 0, s.path);
    if (headerBlock == 0 || block.size() != headerBlock)
        fail(s.path + " is damaged: no whole BGZF block at byte 0");
    BlockReader reader;
    const auto text = reader.text(block.data(), block.size(), s.path, 0);
    s.header.assign(text.first, text.second);
    if (std::count(s.header.begin(), s.header.end(), '\n') != 3 || s.header.back() != '\n')
        fail(s.path + ": its first BGZF block is not the three header lines (was it written by morv --bgzip?)");
    const std::vector<char>& eof = bgzf_eof_block();
    if (size < headerBlock + eof.size() ||
        bytes_at(fd, eof.size(), size - eof.size(), s.path) != std::string(eof.begin(), eof.end()))
        fail(s.path + " lacks the BGZF end-of-file block: was it cut short?");
    s.bodyBegin = headerBlock;
    s.bodyEnd = size - eof.size();
}

// The bytes [next, end) of a file read in large pieces and added to the
// file's checksum as read; data[at, filled) are read and not yet used.
struct Pieces {
    const std::string& path;
    int fd;
    std::uint64_t next, end;
    Checksum& sum;
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
    p.sum.add(p.data.data() + p.filled, asked);
    p.next += asked;
    p.filled += asked;
    return p.filled - p.at >= want;
}

// Reads [from, to) whole, into the checksum; appends it to `out` when asked.
void pass_through(int fd, std::uint64_t from, std::uint64_t to, const ShardFile& s, Checksum& sum, OutputFile* out)
{
    const std::string bytes = bytes_at(fd, static_cast<std::size_t>(to - from), from, s.path);
    if (bytes.size() != to - from)
        fail(s.path + " got shorter while being merged");
    sum.add(bytes.data(), bytes.size());
    if (out)
        put(*out, bytes.data(), bytes.size());
}

// How many tabs [p, end) holds, up to 3: memchr is far faster than a byte loop here.
int tabs_after(const char* p, const char* end)
{
    int tabs = 0;
    for (; tabs < 3 && p < end; ++tabs, ++p) {
        p = static_cast<const char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
        if (!p)
            break;
    }
    return tabs;
}

// Every result line of a shard, in turn: see copy_shard.
class LineChecker {
public:
    explicit LineChecker(const ShardFile& s) : s_(s), r_(s.record), genes_(genes_of(s.record)) {}

    void feed(const char* data, std::size_t size)
    {
        const char* end = data + size;
        while (data < end) {
            const char* newline = static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
            if (!newline) {
                carry_.append(data, end);
                if (carry_.size() > kLongestLine)
                    bad("longer than a result line can be: was it damaged?");
                return;
            }
            if (carry_.empty()) {
                check(data, newline);
            } else {
                carry_.append(data, newline);
                check(carry_.data(), carry_.data() + carry_.size());
                carry_.clear();
            }
            data = newline + 1;
        }
    }

    std::uint64_t count() const { return lines_; }

    void finish() const
    {
        if (!carry_.empty())
            fail(s_.path + " ends inside a result line: was it cut short?");
        const bool exact = !r_.omitPruned || r_.linesKnown;
        const std::uint64_t expected = r_.omitPruned ? r_.lines : r_.pairs;
        if (exact ? lines_ != expected : lines_ > r_.pairs || lines_ < r_.pairs - r_.prunings)
            fail(s_.path + " holds " + std::to_string(lines_) + " result lines but its record counts " +
                 (r_.omitPruned && r_.linesKnown ? std::to_string(r_.lines) + " lines"
                                                 : std::to_string(r_.pairs) + " pairs") +
                 (r_.omitPruned && !r_.linesKnown ? ", " + std::to_string(r_.prunings) + " pruned" : "") +
                 ": was it cut short or changed?");
    }

private:
    [[noreturn]] void bad(const std::string& what) const
    {
        fail(s_.path + " line " + std::to_string(3 + lines_ + 1) + ": " + what);
    }

    // A decimal index (morv's spelling: no sign, no leading zero) and the tab after it.
    bool index(const char*& p, const char* end, std::uint64_t& v) const
    {
        const char* start = p;
        v = 0;
        while (p < end && *p >= '0' && *p <= '9' && p - start < 10)
            v = v * 10 + static_cast<std::uint64_t>(*p++ - '0');
        const bool ok = p > start && p < end && *p == '\t' && (*start != '0' || p - start == 1);
        ++p;
        return ok;
    }

    void check(const char* p, const char* end)
    {
        std::uint64_t snp, g1, g2;
        if (!index(p, end, snp) || !index(p, end, g1) || !index(p, end, g2))
            bad("it does not begin with a SNP and two gene indices: was it damaged?");
        if (end - p < 2 || p[0] < '0' || p[0] > '2' || p[1] != '\t' || tabs_after(p + 2, end) != 2)
            bad("it is not a result line (a flag 0, 1 or 2 and three values after the indices): was it damaged?");
        if (snp < r_.first || snp > r_.last)
            bad("SNP " + std::to_string(snp) + " is outside the SNPs " + std::to_string(r_.first) + "-" +
                std::to_string(r_.last) + " of its record: is it another shard's file?");
        if (g1 >= g2 || g2 >= genes_)
            bad("genes " + std::to_string(g1) + " and " + std::to_string(g2) + " are not a pair g1 < g2 of its " +
                std::to_string(genes_) + " genes: was it damaged?");
        if (lines_ > 0 && !(snp > snp_ || (snp == snp_ && (g1 > g1_ || (g1 == g1_ && g2 > g2_)))))
            bad("SNP " + std::to_string(snp) + ", genes " + std::to_string(g1) + " and " + std::to_string(g2) +
                " come after SNP " + std::to_string(snp_) + ", genes " + std::to_string(g1_) + " and " +
                std::to_string(g2_) + ", out of order: was it damaged or put together by hand?");
        if (r_.omitPruned && p[0] == '0')
            bad("a line of flag 0 in a shard that leaves out the pruned pairs: was it changed?");
        snp_ = snp;
        g1_ = g1;
        g2_ = g2;
        ++lines_;
    }

    const ShardFile& s_;
    const ShardRecord& r_;
    std::uint64_t genes_;
    std::uint64_t lines_ = 0, snp_ = 0, g1_ = 0, g2_ = 0;
    std::string carry_;  // a line cut between pieces
};

void copy_plain(Pieces& p, LineChecker& lines, OutputFile& out)
{
    while (have(p, 1)) {
        const char* piece = p.data.data() + p.at;
        lines.feed(piece, p.filled - p.at);
        put(out, piece, p.filled - p.at);
        p.at = p.filled;
    }
}

void copy_bgzf(const ShardFile& s, Pieces& p, LineChecker& lines, OutputFile& out)
{
    BlockReader reader;
    std::uint64_t offset = s.bodyBegin;
    while (have(p, 1)) {
        const std::size_t size = have(p, kBlockHeader) ? bgzf_block_size(p.data.data() + p.at) : 0;
        if (size == 0 || !have(p, size))
            fail(s.path + " is damaged: no whole BGZF block at byte " + std::to_string(offset));
        const char* block = p.data.data() + p.at;
        const auto text = reader.text(block, size, s.path, offset);
        // morv cuts blocks after a newline, so that blocks can be copied as they are.
        if (text.second > 0 && text.first[text.second - 1] != '\n')
            fail(s.path + " ends inside a result line in its BGZF block at byte " + std::to_string(offset) +
                 ": was it cut short?");
        lines.feed(text.first, text.second);
        put(out, block, size);
        p.at += size;
        offset += size;
    }
}

}  // namespace

ShardFile read_shard(const std::string& path)
{
    ShardFile s;
    s.path = path;
    std::string why;
    if (!read_shard_record(path, s.record, why))
        fail(why);
    try {
        s.hasManifest = read_manifest(path, s.manifest);
    } catch (const FileError& e) {
        fail(e.what());
    }
    return s;
}

void inspect_shard(ShardFile& s)
{
    const OpenFile file(s.path);
    const int kind = compression_of(s.path);
    if (kind == gzip)
        fail(s.path + " is gzip-compressed but not BGZF (morv --bgzip writes BGZF)");
    if ((kind == bgzf) != s.record.bgzip)
        fail(s.path + (kind == bgzf ? " is" : " is not") + " BGZF-compressed but its record " +
             shard_record_path(s.path) + (kind == bgzf ? " says bgzip 0" : " says bgzip 1"));
    s.size = file.size;
    if (s.record.bgzip)
        inspect_bgzf(s, file.fd, file.size);
    else
        inspect_plain(s, file.fd, file.size);
}

void copy_shard(ShardFile& s, OutputFile& out, bool withHeader, std::size_t pieceBytes)
{
    const OpenFile file(s.path);
    if (file.size != s.size)
        fail(s.path + " changed while being merged");
    Checksum sum;
    pass_through(file.fd, 0, s.bodyBegin, s, sum, withHeader ? &out : nullptr);
    Pieces pieces{s.path, file.fd, s.bodyBegin, s.bodyEnd, sum, std::vector<char>(pieceBytes)};
    LineChecker lines(s);
    if (s.record.bgzip)
        copy_bgzf(s, pieces, lines, out);
    else
        copy_plain(pieces, lines, out);
    lines.finish();
    s.lines = lines.count();
    pass_through(file.fd, s.bodyEnd, file.size, s, sum, nullptr);
    s.checksum = sum.hex();
}
