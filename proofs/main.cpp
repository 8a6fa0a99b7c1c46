// morv-proofs <sweep|all> <inputs> [seed]: runs exactness sweeps (proofs/)
// on every instruction-set level the CPU has, printing per level how many
// lane results were compared and how many differed from the C library.
// Exits 1 on any difference, 2 on a usage error.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "proofs/exp_log.hpp"
#include "simd/isa.hpp"
#include "simd/kernels.hpp"

namespace {

struct Sweep {
    const char* name;
    ProofResult (*run)(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed);
};

const Sweep kSweeps[] = {
    {"exp", prove_exp},
    {"log", prove_log},
};

int usage()
{
    std::fprintf(stderr, "usage: morv-proofs <sweep|all> <inputs> [seed]\nsweeps:");
    for (const Sweep& s : kSweeps)
        std::fprintf(stderr, " %s", s.name);
    std::fprintf(stderr, "\n");
    return 2;
}

bool parse_count(const char* text, std::uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0';
}

// Runs one sweep on every supported level; false on any mismatch.
bool run_sweep(const Sweep& sweep, std::uint64_t inputs, std::uint64_t seed)
{
    bool exact = true;
    for (Isa isa : supported_isas()) {
        const auto start = std::chrono::steady_clock::now();
        const ProofResult r = sweep.run(kernels_for(isa), inputs, seed);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%s %-7s checked %llu, mismatches %llu", sweep.name, isa_name(isa),
                    static_cast<unsigned long long>(r.checked),
                    static_cast<unsigned long long>(r.mismatches));
        if (r.mismatches != 0)
            std::printf(", first at input %a", r.first_bad_input);
        std::printf(" (%.1f s)\n", took.count());
        std::fflush(stdout);
        exact = exact && r.mismatches == 0;
    }
    return exact;
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint64_t inputs = 0, seed = 1;
    if (argc < 3 || argc > 4 || !parse_count(argv[2], inputs) || inputs == 0 ||
        (argc == 4 && !parse_count(argv[3], seed)))
        return usage();
    const bool all = std::strcmp(argv[1], "all") == 0;
    bool found = false, exact = true;
    for (const Sweep& s : kSweeps)
        if (all || std::strcmp(argv[1], s.name) == 0) {
            found = true;
            exact = run_sweep(s, inputs, seed) && exact;
        }
    if (!found)
        return usage();
    return exact ? 0 : 1;
}
