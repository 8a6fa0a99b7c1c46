#pragma once

// Sweeps that hold the exact replacements of library functions to the
// originals they replace, bit for bit, over generated inputs concentrated
// where the evaluation method or the rounding changes. Each takes the number
// of inputs to draw and a seed, and reports what it found; the unit tests
// run them small, morv-proofs runs them at full size.

#include <cstdint>
#include <string>

struct SweepResult {
    std::uint64_t checked = 0;     // inputs compared
    std::uint64_t mismatches = 0;  // of those, the ones that differ
    std::string first;             // the first mismatch, described
};

// chi_squared_tail10 and chi_squared_tail2 against the library's upper tail,
// and the long double series below T = 8 against the library's own.
SweepResult prove_chi_squared_tails(std::uint64_t inputs, std::uint64_t seed);

// format_fixed6 against printf's "%f".
SweepResult prove_fixed_format(std::uint64_t inputs, std::uint64_t seed);

// The quick p-value text of a pruned pair (fast/mc_quick.hpp) against the
// exact tail and formatting, at several thresholds, with estimates anywhere
// inside their error bound: whenever it answers, the answer must be exact.
SweepResult prove_quick_pvalue_text(std::uint64_t inputs, std::uint64_t seed);
