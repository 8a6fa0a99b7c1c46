#include "fast/pair_layout.hpp"

namespace {

constexpr std::size_t kColumns = 9;        // x1 .. termR
constexpr std::size_t kProductLanes = 10;  // m and t

std::size_t padded_length(std::size_t n)
{
    return (n + kPairBlock - 1) / kPairBlock * kPairBlock;
}

}  // namespace

std::size_t pair_storage(std::size_t n)
{
    return padded_length(n) * (kColumns + kProductLanes);
}

PairColumns pair_columns(double* store, std::size_t n)
{
    PairColumns c;
    c.n = n;
    c.padded = padded_length(n);
    double** columns[kColumns] = {&c.x1, &c.x2, &c.z3, &c.y0, &c.y1, &c.e0, &c.e1, &c.term, &c.termR};
    for (double** column : columns) {
        *column = store;
        store += c.padded;
    }
    c.m = store;
    c.t = store + 8 * c.padded;
    return c;
}
