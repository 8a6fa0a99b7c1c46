// morv-proofs <sweep|all> <inputs> [seed]: runs exactness sweeps (proofs/),
// those of vector kernels on every instruction-set level the CPU has,
// printing how many results were compared and how many differed from the
// originals. Exits 1 on any difference, 2 on a usage error; -h or --help
// prints the usage on standard output.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fast/kernels.hpp"
#include "proofs/exp_log.hpp"
#include "proofs/tails_format.hpp"
#include "simd/isa.hpp"

namespace {

// A sweep of a vector kernel runs on every level; the others run once.
struct Sweep {
    const char* name;
    ProofResult (*perLevel)(const Kernels& kernels, std::uint64_t inputs, std::uint64_t seed);
    SweepResult (*once)(std::uint64_t inputs, std::uint64_t seed);
};

const Sweep kSweeps[] = {
    {"exp", prove_exp, nullptr},
    {"log", prove_log, nullptr},
    {"tails", nullptr, prove_chi_squared_tails},
    {"fixed", nullptr, prove_fixed_format},
    {"quick", nullptr, prove_quick_pvalue_text},
};

void print_usage(std::FILE* to)
{
    std::fprintf(to, "usage: morv-proofs <sweep|all> <inputs> [seed]\nsweeps:");
    for (const Sweep& s : kSweeps)
        std::fprintf(to, " %s", s.name);
    std::fprintf(to, "\n");
}

int usage()
{
    print_usage(stderr);
    return 2;
}

bool parse_count(const char* text, std::uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0';
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs one sweep (on every supported level if it has levels); false on any
// mismatch.
bool run_sweep(const Sweep& sweep, std::uint64_t inputs, std::uint64_t seed)
{
    if (sweep.once) {
        const auto start = std::chrono::steady_clock::now();
        const SweepResult r = sweep.once(inputs, seed);
        std::printf("%s checked %llu, mismatches %llu%s%s (%.1f s)\n", sweep.name,
                    static_cast<unsigned long long>(r.checked),
                    static_cast<unsigned long long>(r.mismatches), r.mismatches ? ", first: " : "",
                    r.mismatches ? r.first.c_str() : "", seconds_since(start));
        std::fflush(stdout);
        return r.mismatches == 0;
    }
    bool exact = true;
    for (Isa isa : supported_isas()) {
        const auto start = std::chrono::steady_clock::now();
        const ProofResult r = sweep.perLevel(kernels_for(isa), inputs, seed);
        std::printf("%s %-7s checked %llu, mismatches %llu", sweep.name, isa_name(isa),
                    static_cast<unsigned long long>(r.checked),
                    static_cast<unsigned long long>(r.mismatches));
        if (r.mismatches != 0)
            std::printf(", first at input %a", r.first_bad_input);
        std::printf(" (%.1f s)\n", seconds_since(start));
        std::fflush(stdout);
        exact = exact && r.mismatches == 0;
    }
    return exact;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        print_usage(stdout);
        return 0;
    }
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
