// Fuzz target: the result-file reader. The input is read as a plain file and
// again gzip-compressed: both must give the same records, or the same message
// at the same line.
#include <cstddef>
#include <cstdint>
#include <string>

#include <zlib.h>

#include "files/program_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "report/result_reader.hpp"

namespace {

// What a reader made of a file: its records in short, or the message after
// the file name.
std::string outcome_of(const std::string& path)
{
    std::string seen;
    try {
        ResultReader reader(path);
        ResultRecord r;
        while (reader.next(r)) {
            require(r.flag >= 0 && r.flag <= 2, "flag 0, 1 or 2");
            require((r.flag == 0) == (r.lda == "1.0") && (r.flag != 1) == (r.it == "1.0"), "placeholders match the flag");
            require(r.flag == 1 || r.log10_it == 0, "no IT value without flag 1");
            seen += std::to_string(r.snp) + ' ' + std::to_string(r.gene1) + ' ' + std::to_string(r.gene2) + ' ' +
                    std::string(r.flag_text) + ' ' + std::string(r.mc) + ' ' + std::string(r.lda) + ' ' +
                    std::string(r.it) + '\n';
        }
    } catch (const ProgramError& e) {
        const std::string message = e.what();
        require(message.compare(0, path.size(), path) == 0, "the message names the file");
        seen += message.substr(path.size());
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    const std::string plain = write_scratch("results.txt", data, size);
    const std::string gz = write_scratch("results.txt.gz", "");
    gzFile f = gzopen(gz.c_str(), "wb");
    require(f && (size == 0 || gzwrite(f, data, static_cast<unsigned>(size)) == static_cast<int>(size)) &&
                gzclose(f) == Z_OK,
            "gzip copy written");
    // A plain input that is itself gzip data reads as its contents, not as itself.
    if (size < 2 || data[0] != 0x1f || data[1] != 0x8b)
        require(outcome_of(plain) == outcome_of(gz), "plain and gzipped files read alike");
    else
        outcome_of(plain);
    return 0;
}
