// Allele lookup (per call and sequential) and the line reads beneath it.
#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "io/allele.hpp"
#include "io/line_buffer.hpp"
#include "tests/support.hpp"

namespace {

using testsupport::TempDir;

// A string literal with its embedded NUL bytes, without the terminator.
template <std::size_t N>
std::string bytes(const char (&literal)[N])
{
    return std::string(literal, N - 1);
}

const std::string kFormat = "Error: Invalid format in allele data.";
const std::string kData = "Error: Invalid data in allele data.";

// What a lookup did: the alleles it returned, and how the process ended.
struct Outcome {
    std::string alleles;
    std::string err;
    int status = -1;
    bool operator==(const Outcome& o) const
    {
        return alleles == o.alleles && err == o.err && status == o.status;
    }
};

std::ostream& operator<<(std::ostream& os, const Outcome& o)
{
    return os << "alleles '" << o.alleles << "' status " << o.status << " err '" << o.err << "'";
}

std::string drain(int fd)
{
    std::string text;
    char chunk[256];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return text;
}

// Runs `body` in a child process, since a bad file ends the process. The body
// hands each allele it finds to `emit`.
Outcome isolated(const std::function<void(const std::function<void(char)>&)>& body)
{
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);  // or the child's exit would print our buffers again
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        close(err[0]);
        dup2(err[1], 2);
        body([&](char allele) {
            if (write(out[1], &allele, 1) != 1)
                _exit(99);
        });
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    Outcome outcome;
    outcome.alleles = drain(out[0]);
    outcome.err = drain(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

Outcome run_getallele(unsigned k, const std::string& path)
{
    return isolated([&](const std::function<void(char)>& emit) {
        char allele = ' ';
        getallele(k, allele, path.c_str());
        emit(allele);
    });
}

Outcome run_reader(const std::vector<unsigned>& ks, const std::string& path)
{
    return isolated([&](const std::function<void(char)>& emit) {
        AlleleReader reader;
        for (unsigned k : ks) {
            char allele = ' ';
            lookup_allele(reader, k, allele, path.c_str());
            emit(allele);
        }
        close_allele_reader(reader);
    });
}

Outcome allele(char a) { return {std::string(1, a), "", 0}; }
Outcome fails(const std::string& message) { return {"", message + "\n", 1}; }

struct AlleleFile {
    const char* name;
    std::string content;
    std::vector<Outcome> perSnp;  // getallele(k) for k = 0, 1, ...
};

const AlleleFile kAlleleFiles[] = {
    {"OneLetterPerLine", "A\nc\nG\nT\n", {allele('A'), allele('c'), allele('G'), allele('T'), fails(kData)}},
    {"UpToThreeExtraCharacters", "A \nC  \nG   \nT\tx\n", {allele('A'), allele('C'), allele('G'), allele('T')}},
    {"FourExtraCharacters", "A\nC    \nG\n", {allele('A'), fails(kFormat), fails(kData), allele('G'), fails(kData)}},
    // "TTTTTC\n" is read as "TTTTT" and "C\n": later SNPs get the line above.
    {"OverlongLineShifts", "A\nTTTTTC\nG\n", {allele('A'), fails(kFormat), allele('C'), allele('G'), fails(kData)}},
    {"OverlongLastLine", "A\nCCCCCCCC\n", {allele('A'), fails(kFormat), allele('C'), fails(kData)}},
    {"EmptyLine", "\nA\n", {fails(kData), allele('A'), fails(kData)}},
    {"LastLineWithoutNewline", "A\nG", {allele('A'), allele('G'), fails(kData)}},
    {"LastLineWithoutNewlineFourCharacters", "A\nGTTT", {allele('A'), allele('G'), fails(kData)}},
    {"LastLineWithoutNewlineFiveCharacters", "A\nGTTTT", {allele('A'), fails(kFormat), fails(kData)}},
    {"NotNucleotides", "N\nx\n1\n \n", {fails(kData), fails(kData), fails(kData), fails(kData)}},
    {"CarriageReturn", "A\r\ng\r\n", {allele('A'), allele('g'), fails(kData)}},
    {"NulBytes", bytes("A\0\0\n\0A\nA\0\0\0\0\0\n"), {allele('A'), fails(kData), fails(kFormat)}},
    {"Empty", "", {fails(kData), fails(kData)}},
};

class AlleleFileTest : public ::testing::TestWithParam<AlleleFile> {};

TEST_P(AlleleFileTest, GetalleleReadsLineK)
{
    const AlleleFile& c = GetParam();
    TempDir dir;
    const std::string path = dir.write("a.txt", c.content);
    for (unsigned k = 0; k < c.perSnp.size(); ++k)
        EXPECT_EQ(run_getallele(k, path), c.perSnp[k]) << "SNP " << k;
}

// The sequential reader stops at the first bad SNP, with getallele's
// message for that SNP, after returning getallele's alleles before it.
TEST_P(AlleleFileTest, ReaderAgreesWithGetallele)
{
    const AlleleFile& c = GetParam();
    TempDir dir;
    const std::string path = dir.write("a.txt", c.content);
    for (unsigned first = 0; first < c.perSnp.size(); ++first) {
        std::vector<unsigned> ks;
        Outcome expected{"", "", 0};
        for (unsigned k = first; k < c.perSnp.size() + 2; ++k) {
            ks.push_back(k);
            const Outcome single = run_getallele(k, path);
            expected.alleles += single.alleles;
            if (single.status != 0) {
                expected.err = single.err;
                expected.status = single.status;
                break;
            }
        }
        EXPECT_EQ(run_reader(ks, path), expected) << "from SNP " << first;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AlleleFileTest, ::testing::ValuesIn(kAlleleFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AlleleReader, StartsOverForAnEarlierOrTheSameSnp)
{
    TempDir dir;
    const std::string path = dir.write("a.txt", "A\nC\nG\nT\n");
    EXPECT_EQ(run_reader({2, 0, 0, 3, 1}, path), (Outcome{"GAATC", "", 0}));
}

TEST(AlleleReader, HugeSnpIndexIsAShortFile)
{
    TempDir dir;
    const std::string path = dir.write("a.txt", "A\n");
    EXPECT_EQ(run_reader({0, UINT_MAX}, path), (Outcome{"A", kData + "\n", 1}));
}

TEST(AlleleLookup, ReportsFileThatDoesNotOpen)
{
    TempDir dir;
    const std::string missing = dir.file("missing.txt");
    const Outcome expected = fails("Error: Cannot open the allele file.");
    EXPECT_EQ(run_getallele(0, missing), expected);
    EXPECT_EQ(run_reader({0}, missing), expected);
}

// The reads fgets(buffer, size) makes, one character at a time.
std::vector<std::string> reference_reads(const std::string& path, std::size_t size)
{
    std::vector<std::string> reads;
    std::FILE* file = std::fopen(path.c_str(), "r");
    for (;;) {
        std::string piece;
        int c = 0;
        while (piece.size() + 1 < size && (c = std::getc(file)) != EOF) {
            piece += static_cast<char>(c);
            if (c == '\n')
                break;
        }
        if (piece.empty())
            break;
        reads.push_back(piece);
    }
    std::fclose(file);
    return reads;
}

std::vector<std::string> line_buffer_reads(const std::string& path, std::size_t size,
                                           std::size_t fgetsLimit)
{
    std::vector<std::string> reads;
    LineBuffer buffer;
    allocate_line_buffer(buffer, size);
    buffer.fgets_limit = fgetsLimit;
    std::FILE* file = std::fopen(path.c_str(), "r");
    std::size_t length = 0;
    while (read_line(buffer, file, length))
        reads.emplace_back(buffer.data.get(), length);
    std::fclose(file);
    return reads;
}

TEST(LineBuffer, MeasuresReadsWithNulBytesAndSplitsLikeFgets)
{
    TempDir dir;
    const std::string contents[] = {
        bytes("ab\0\ncd\n\n\0\0\0\0\0\0\0\nxyzxyzxyz\n\0"),
        bytes("\0\0\0\0\0\0\0\0\0\0\0\0\0"),
        "one\ntwo\nthree\nlast line without newline",
        "\n\n\n",
        "",
    };
    for (const std::string& content : contents) {
        const std::string path = dir.write("f.txt", content);
        for (std::size_t size : {2, 3, 4, 6, 9, 64}) {
            const auto expected = reference_reads(path, size);
            for (std::size_t limit : {std::size_t(2), std::size_t(3), std::size_t(INT_MAX)}) {
                EXPECT_EQ(line_buffer_reads(path, size, limit), expected)
                    << "size " << size << " fgets limit " << limit;
            }
        }
    }
}

}  // namespace
