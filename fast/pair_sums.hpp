#pragma once

#include <cstddef>

// Building blocks of the fast scan's MC test (the kernels cross_sums_block
// and column_sums of fast/pair_sums_kernel.hpp). The values they produce are
// exactly the sums the group statistics accumulate pair by pair: every sum
// starts at 0.0 and adds its terms in sample order. Speed comes from sharing
// work across pairs and vectorising across partner genes, never from
// reordering a sum.
//
// Log-expression tables here are "paneled": genes in groups of kPanel, each
// group stored as its own sample-major block (sample s's kPanel values, then
// sample s+1's), so that walking the samples of one group of partner genes
// is one sequential stream. Tables are 64-byte aligned and padded to whole
// panels.

constexpr std::size_t kPanel = 16;
// Genes per block in the cross-sum kernel; divides kPanel.
constexpr std::size_t kRowBlock = 8;

inline std::size_t panel_count(std::size_t genes)
{
    return (genes + kPanel - 1) / kPanel;
}

// Index of (sample s, gene g) in a paneled table of `samples` samples.
inline std::size_t panel_index(std::size_t samples, std::size_t s, std::size_t g)
{
    return ((g / kPanel) * samples + s) * kPanel + g % kPanel;
}
