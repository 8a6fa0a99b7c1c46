#pragma once

#include <type_traits>

// The score and Hessian sums of one Newton step of the interaction test's
// fits, and where the step-sum kernels (fast/step_sums_kernel.hpp) leave
// them. Each sample enters with five weights from the probabilities P0, P1
// of its predictors: fa = (P0-1)P0, fb = P0 P1 and fc = (P1-1)P1 for the
// Hessian's blocks H00, H01 and H11, d0 = y0 - P0 and d1 = y1 - P1 for the
// score's halves g0 and g1. Each sum adds one weight times one of the ten
// design products (fast/pair_layout.hpp) over the samples, in order. The
// sums are packed eight to a vector: the full design's 38 into five
// vectors, the reduced design's 24 into three, or on wide levels laid out
// by rows in four. The lanes map each (weight, product) to its lane.

constexpr int kWeights = 5;    // fa, fb, fc, d0, d1: what each sums into
constexpr int kH00 = 0, kH01 = 1, kH11 = 2, kG0 = 3, kG1 = 4;
constexpr int kProducts = 10;  // m's eight, then t's two

// One vector of sums: lane l adds weight (weights >> 4l) & 15 times
// product (products >> 4l) & 15.
struct PackedSums {
    unsigned weights;
    unsigned products;
};

struct FullDesignSums {
    static constexpr int count = 5;
    static constexpr PackedSums vectors[count] = {
        {0x00000000, 0x76543210},  // fa times m's products
        {0x11111111, 0x76543210},  // fb
        {0x22222222, 0x76543210},  // fc
        {0x00221100, 0x98989898},  // fa, fb, fc times t's (lanes 6-7 repeat 0-1)
        {0x44443333, 0x32103210},  // d0 and d1 times the design row
    };
};

// The reduced design's sums on levels of four lanes or more: the full
// design's layout without t's products. 8 of its 32 lanes (the products z3
// and x1z3) go unread, but every product comes from one load of the row,
// where packing the 24 sums into three vectors permutes and blends the row
// twice per vector and sample: fewer operations, fewer registers.
struct ReducedDesignRowSums {
    static constexpr int count = 4;
    static constexpr PackedSums vectors[count] = {
        FullDesignSums::vectors[0],
        FullDesignSums::vectors[1],
        FullDesignSums::vectors[2],
        FullDesignSums::vectors[4],
    };
};

// The reduced design reads the products 1, x1, x2, x1x1, x1x2 and x2x2:
//   fa (1, x1, x2, x1x1, x1x2, x2x2) | fb (1, x1)
//   fb (x2, x1x1, x1x2, x2x2)        | fc (1, x1, x2, x1x1)
//   fc (x1x2, x2x2) | d0 (1, x1, x2) | d1 (1, x1, x2)
struct ReducedDesignSums {
    static constexpr int count = 3;
    static constexpr PackedSums vectors[count] = {
        {0x11000000, 0x10654210},
        {0x22221111, 0x42106542},
        {0x44433322, 0x21021065},
    };
};

// Of the lanes 0..width-1 of `weights` (as in PackedSums), those whose
// weight is k, as a mask.
constexpr unsigned lanes_of_weight(unsigned weights, int k, int width)
{
    unsigned mask = 0;
    for (int l = 0; l < width; ++l)
        if ((weights >> 4 * l & 15) == static_cast<unsigned>(k))
            mask |= 1u << l;
    return mask;
}

// The reduced design's layout at a level of `width` lanes: packed where
// lanes are few (one lane: every sum is a scalar of its own), by rows where
// a vector holds four or more.
template <int Width>
using ReducedDesignFor = std::conditional_t<(Width >= 4), ReducedDesignRowSums, ReducedDesignSums>;

// The most lanes a design's step sums write.
constexpr int kMaxSumLanes = 8 * FullDesignSums::count;

// The lane of each (weight, product) sum among a design's packed vectors;
// -1 where it has none.
struct SumLanes {
    int lane[kWeights][kProducts];
};

template <class Design>
constexpr SumLanes sum_lanes()
{
    SumLanes s{};
    for (auto& products : s.lane)
        for (int& lane : products)
            lane = -1;
    // Backwards: where a sum repeats, its first lane is the one named.
    for (int v = Design::count; v-- > 0;)
        for (int l = 8; l-- > 0;) {
            const PackedSums& p = Design::vectors[v];
            s.lane[p.weights >> 4 * l & 15][p.products >> 4 * l & 15] = 8 * v + l;
        }
    return s;
}

// The lanes of each design, as constants whose address a kernel table holds.
template <class Design>
inline constexpr SumLanes kSumLanesOf = sum_lanes<Design>();
