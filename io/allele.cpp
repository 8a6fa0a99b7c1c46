#include "io/allele.hpp"

#include <cstddef>

#include "io/error.hpp"
#include "io/nucleotide.hpp"

namespace {

// Lines are read in pieces of at most 5 characters; a valid line (at most
// 4 characters and its newline) is exactly one piece.
constexpr std::size_t kAlleleBufferSize = 6;

const char* open_allele_file(AlleleReader& reader, const char* path)
{
    reader.file = std::fopen(path, "r");
    if (reader.file == nullptr)
        return "Error: Cannot open the allele file.";
    reader.reads = 0;
    if (reader.buffer.size != kAlleleBufferSize)
        allocate_line_buffer(reader.buffer, kAlleleBufferSize);
    return nullptr;
}

// Closes the reader of one lookup however the lookup ends.
struct ReaderCloser {
    AlleleReader& reader;
    ~ReaderCloser() { close_allele_reader(reader); }
};

}  // namespace

const char* find_allele(AlleleReader& reader, unsigned k, char& allele, const char* path)
{
    // k + 1 successful reads end on line k; in 64 bits so k = UINT_MAX works.
    const std::uint64_t wanted = static_cast<std::uint64_t>(k) + 1;
    if (reader.file != nullptr && reader.reads >= wanted)
        close_allele_reader(reader);
    if (reader.file == nullptr) {
        if (const char* fault = open_allele_file(reader, path))
            return fault;
    }

    // At least one read happens here, so `length` describes line k's piece.
    std::size_t length = 0;
    while (reader.reads < wanted) {
        if (!read_line(reader.buffer, reader.file, length)) {
            if (std::ferror(reader.file))
                return "Error: Aborted due to input error (allele data).";
            // Fewer than k + 1 lines: there is no line for this SNP.
            return "Error: Invalid data in allele data.";
        }
        ++reader.reads;
    }
    // The piece must be a whole line: its newline read, or the file ended.
    if (!ends_with_newline(reader.buffer, length) && !std::feof(reader.file))
        return "Error: Invalid format in allele data.";
    const char first = reader.buffer.data[0];
    if (!is_nucleotide(first))
        return "Error: Invalid data in allele data.";
    allele = first;
    return nullptr;
}

void lookup_allele(AlleleReader& reader, unsigned k, char& allele, const char* path)
{
    if (const char* fault = find_allele(reader, k, allele, path))
        error(fault);
}

void close_allele_reader(AlleleReader& reader)
{
    if (reader.file != nullptr)
        std::fclose(reader.file);
    reader.file = nullptr;
    reader.reads = 0;
}

void getallele(unsigned k, char& allele, const char* path)
{
    // A fresh reader opens the file and reads it from the top: the
    // per-call lookup and the sequential one are the same code.
    AlleleReader reader;
    const ReaderCloser closer{reader};
    lookup_allele(reader, k, allele, path);
}
