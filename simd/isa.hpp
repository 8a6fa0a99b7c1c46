#pragma once

#include <vector>

// The instruction-set levels every vector kernel is built for. The CPU is
// examined once; code reaches a level's kernels only through its table
// (simd/kernels.hpp), so tests can run any level the machine has.
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

// Every supported level, narrowest first.
std::vector<Isa> supported_isas();
