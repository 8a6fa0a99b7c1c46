// Fuzz target: the fast engine against the reference engine on fuzzer-made
// data. The input is decoded into a small valid study (shapes, genotype
// classes, expression values with zeros, negatives, infinities, NaN, ties and
// subnormals, a threshold), both engines scan it, the fast one on every
// instruction-set level the CPU has, and the result files must be identical
// byte for byte: a difference aborts with the first differing line.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "driver/result_file.hpp"
#include "driver/scan.hpp"
#include "driver/startup.hpp"
#include "fast/kernels.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "io/globals.hpp"

namespace {

// Reads the input a byte at a time; past its end every byte is 0.
struct Bytes {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    unsigned next() { return at < size ? data[at++] : 0u; }
};

double threshold_of(unsigned b)
{
    static const double choices[] = {1.0, 0.05, 1e-4, 2.0, 0.0, 1e-300, 0.5, 1e-7};
    return choices[b % 8];
}

// Mostly positive values on a few decades, with a per-gene effect of the
// genotype class so that pairs reach the later statistics; now and then a
// value that every statistic must survive.
double expression_value(unsigned b, unsigned effect, unsigned cls)
{
    static const double odd[] = {0.0, -1.0, std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN(), 4.9e-324, 1e300,
                                 1.0, 10.0};
    if (b >= 248)
        return odd[b - 248];
    return std::exp2((b % 64) / 8.0 + (effect % 8) * 0.5 * cls + (b / 64) * 0.001);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void require_same(const std::string& reference, const std::string& fast, Isa isa)
{
    if (reference == fast)
        return;
    std::istringstream a(reference), b(fast);
    std::string la, lb;
    for (unsigned line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, la));
        const bool moreB = static_cast<bool>(std::getline(b, lb));
        if (la != lb || moreA != moreB) {
            std::fprintf(stderr, "line %u, level %s:\nreference: %s\nfast:      %s\n", line,
                         isa_name(isa), moreA ? la.c_str() : "(end)", moreB ? lb.c_str() : "(end)");
            break;
        }
    }
    require(false, "the fast engine writes what the reference engine writes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes in{data, size};
    n = static_cast<int>(3 + in.next() % 30);
    ngene = static_cast<int>(2 + in.next() % 7);
    ps = static_cast<int>(1 + in.next() % 3);
    const double threshold = threshold_of(in.next());
    const std::size_t samples = static_cast<std::size_t>(n), genes = static_cast<std::size_t>(ngene),
                      snps = static_cast<std::size_t>(ps);

    // Reference allele 'A' at every SNP; classes 0, 1 (either order), 2.
    GenotypeMatrix G(samples, 2 * snps);
    std::vector<unsigned> firstClass(samples);
    for (std::size_t k = 0; k < snps; ++k)
        for (std::size_t s = 0; s < samples; ++s) {
            const unsigned b = in.next();
            const unsigned cls = b % 3;
            G(s, 2 * k) = cls == 2 || (cls == 1 && b & 4) ? 'C' : 'A';
            G(s, 2 * k + 1) = cls == 0 || (cls == 1 && b & 4) ? 'A' : 'C';
            if (k == 0)
                firstClass[s] = cls;
        }
    ExpressionMatrix E(samples, genes);
    for (std::size_t g = 0; g < genes; ++g) {
        const unsigned effect = in.next();
        for (std::size_t s = 0; s < samples; ++s)
            E(s, g) = expression_value(in.next(), effect, firstClass[s]);
    }
    ublas::matrix<double> moments;
    compute_gene_moments(E, moments);

    RunPaths paths;
    std::string alleles;
    for (std::size_t k = 0; k < snps; ++k)
        alleles += "A\n";
    paths.allele = write_scratch("allele.txt", alleles);
    paths.output = write_scratch("reference.txt", std::string());
    write_result_header(paths.output, threshold);
    const ScanCounts expected = run_scan_reference(paths, threshold, G, E, moments);
    const std::string reference = read_file(paths.output);

    for (Isa isa : supported_isas()) {
        paths.output = write_scratch("fast.txt", std::string());
        write_result_header(paths.output, threshold);
        const ScanCounts got = run_scan_fast(paths, threshold, G, E, moments, kernels_for(isa));
        require_same(reference, read_file(paths.output), isa);
        require(got.pairs == expected.pairs && got.prunings == expected.prunings,
                "the fast engine counts what the reference engine counts");
    }
    return 0;
}
