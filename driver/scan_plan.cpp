#include "driver/scan_plan.hpp"

#include <algorithm>

#include "stats/cascade.hpp"

namespace {

// Pairs of rows [a, b) of one SNP: row g1 pairs with genes g1+1 .. genes-1.
std::uint64_t row_pairs(std::size_t genes, std::size_t a, std::size_t b)
{
    std::uint64_t pairs = 0;
    for (std::size_t g = a; g < b && g < genes; ++g)
        pairs += genes - 1 - g;
    return pairs;
}

}  // namespace

std::uint64_t unit_target_pairs(std::uint64_t totalPairs, unsigned threads)
{
    constexpr std::uint64_t kMost = 1u << 15, kLeast = 1u << 10;
    const std::uint64_t share = totalPairs / (16 * std::uint64_t(std::max(1u, threads)));
    return std::clamp(share, kLeast, kMost);
}

ScanPlan plan_scan(unsigned first, unsigned end, std::size_t genes, std::uint64_t targetPairs,
                   std::size_t rowAlign)
{
    ScanPlan plan;
    plan.first = first;
    plan.end = std::max(first, end);
    plan.genes = genes;
    const unsigned snps = plan.end - plan.first;
    const std::size_t rows = genes > 1 ? genes - 1 : 0;
    const std::uint64_t perSnp = pairs_per_snp(genes);
    if (snps == 0 || perSnp == 0)
        return plan;
    plan.rowCuts.push_back(0);
    if (perSnp <= targetPairs) {
        const std::uint64_t group = std::max<std::uint64_t>(1, targetPairs / perSnp);
        plan.snpsPerUnit = static_cast<unsigned>(std::min<std::uint64_t>(group, snps));
        plan.rowCuts.push_back(rows);
        plan.units = (snps + plan.snpsPerUnit - 1) / plan.snpsPerUnit;
        return plan;
    }
    std::size_t row = 0;
    while (row < rows) {
        std::size_t next = row;
        std::uint64_t pairs = 0;
        while (next < rows && pairs < targetPairs) {
            const std::size_t stop = std::min(next + rowAlign, rows);
            pairs += row_pairs(genes, next, stop);
            next = stop;
        }
        plan.rowCuts.push_back(next);
        row = next;
    }
    plan.units = std::size_t(snps) * (plan.rowCuts.size() - 1);
    return plan;
}

ScanUnit unit_at(const ScanPlan& plan, std::size_t u)
{
    ScanUnit unit;
    const std::size_t chunks = plan.rowCuts.size() - 1;
    if (plan.snpsPerUnit > 1 || chunks == 1) {
        const std::uint64_t begin = plan.first + std::uint64_t(u) * plan.snpsPerUnit;
        unit.snpBegin = static_cast<unsigned>(begin);
        unit.snpEnd = static_cast<unsigned>(std::min<std::uint64_t>(begin + plan.snpsPerUnit, plan.end));
        unit.rowBegin = 0;
        unit.rowEnd = plan.rowCuts.back();
        return unit;
    }
    unit.snpBegin = plan.first + static_cast<unsigned>(u / chunks);
    unit.snpEnd = unit.snpBegin + 1;
    unit.rowBegin = plan.rowCuts[u % chunks];
    unit.rowEnd = plan.rowCuts[u % chunks + 1];
    return unit;
}

std::uint64_t unit_pairs(const ScanPlan& plan, const ScanUnit& unit)
{
    return std::uint64_t(unit.snpEnd - unit.snpBegin) * row_pairs(plan.genes, unit.rowBegin, unit.rowEnd);
}

std::uint64_t plan_pairs(const ScanPlan& plan)
{
    return std::uint64_t(plan.end - plan.first) * pairs_per_snp(plan.genes);
}
