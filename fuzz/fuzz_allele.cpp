// Fuzz target: the allele lookup. The first byte gives the number of lookups
// (1 to 4), the next bytes their SNP indices; the rest is the allele file.
// The per-call lookup and the sequential reader must agree on every index:
// the same allele, or the same message.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fatal_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "io/allele.hpp"
#include "io/nucleotide.hpp"

namespace {

// An allele, or the message of the error that replaced it.
struct Outcome {
    char allele = ' ';
    std::string message;
};

template <class Lookup>
Outcome outcome_of(Lookup lookup)
{
    Outcome o;
    try {
        lookup(o.allele);
    } catch (const FatalError& e) {
        o.message = e.message;
    }
    return o;
}

// Closes the sequential reader however the input ends.
struct ReaderCloser {
    AlleleReader& reader;
    ~ReaderCloser() { close_allele_reader(reader); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    if (size == 0)
        return 0;
    const std::size_t lookups = 1 + data[0] % 4;
    if (size < 1 + lookups)
        return 0;
    const std::uint8_t* snps = data + 1;
    const std::string path = write_scratch("allele.txt", data + 1 + lookups, size - 1 - lookups);

    AlleleReader reader;
    const ReaderCloser closer{reader};
    for (std::size_t j = 0; j < lookups; ++j) {
        const unsigned k = snps[j];
        const Outcome fresh = outcome_of([&](char& a) { getallele(k, a, path.c_str()); });
        const Outcome sequential =
            outcome_of([&](char& a) { lookup_allele(reader, k, a, path.c_str()); });
        require(fresh.message == sequential.message, "both lookups fail alike");
        require(fresh.allele == sequential.allele, "both lookups find the same allele");
        require(!fresh.message.empty() || is_nucleotide(fresh.allele), "a found allele is a letter");
        // After an error the program would have ended: start the reader afresh.
        if (!sequential.message.empty())
            close_allele_reader(reader);
    }
    return 0;
}
