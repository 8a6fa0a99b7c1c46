#pragma once

#include "exact/exact_kernels.hpp"
#include "fast/fast_kernels.hpp"
#include "simd/isa.hpp"

// The one dispatch mechanism: every vector kernel of the exact and fast
// layers is reached through the table of one instruction-set level. Each
// kernel's algorithm is written once, as a template over a level's
// primitives (simd/<level>.hpp), and instantiated per level in
// <layer>/kernels_<level>.cpp; each layer defines its own table
// (exact/exact_kernels.hpp, fast/fast_kernels.hpp). The engine takes the
// best table once per run; tests take each supported table in turn and hold
// it to the generic one.
struct Kernels {
    Isa isa;
    ExactKernels exact;
    FastKernels fast;
};

// The table of a supported level (isa_supported(isa) must hold).
const Kernels& kernels_for(Isa isa);

// The table of the level MORV_ISA chooses (chosen_isa), read once; throws
// as chosen_isa does.
const Kernels& best_kernels();
