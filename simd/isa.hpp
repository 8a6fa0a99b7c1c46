#pragma once

#include <vector>

// The instruction-set levels every vector kernel is built for. The CPU is
// examined once; code reaches a level's kernels only through its table
// (the layers above build one per level), so tests can run any level the
// machine has.
//   generic: the baseline (SSE2 on x86-64; the only level on other CPUs),
//            also the reference for the others
//   avx2:    AVX2 and FMA
//   avx512:  AVX-512 F, DQ, BW, VL and FMA
enum class Isa { generic, avx2, avx512 };

const char* isa_name(Isa isa);

// Whether this CPU runs the level's kernels.
bool isa_supported(Isa isa);

// The widest supported level.
Isa best_isa();

// The level a run uses: the widest supported one, or the one the environment
// variable MORV_ISA names (generic, avx2, avx512), which caps it: to compare
// levels on one machine, or to stay off a level. `value` is the variable's
// value (null or empty: not set). Throws std::invalid_argument, whose text
// says what is wrong, for a name that is no level or one this CPU lacks.
Isa chosen_isa(const char* value);

// Every supported level, narrowest first.
std::vector<Isa> supported_isas();
