// Fuzz target: the whole start-up and the first pairs of the scan over three
// files made from one input. The input is split at the first two "%%\n" into
// the genotype, expression and allele files (missing parts are empty).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/startup.hpp"
#include "fuzz/fatal_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "io/allele.hpp"
#include "io/dimension_scan.hpp"
#include "io/expression_load.hpp"
#include "io/genotype_load.hpp"
#include "io/globals.hpp"
#include "io/matrices.hpp"
#include "io/pair_data.hpp"
#include "stats/interaction.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

namespace {

// Enough pairs to reach every statistic, few enough to keep inputs fast.
constexpr unsigned kMaxSnps = 3;
constexpr unsigned kMaxPairsPerSnp = 3;

struct Parts {
    std::string genotype, expression, allele;
};

Parts split(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string cut = "%%\n";
    Parts parts;
    std::string* fields[3] = {&parts.genotype, &parts.expression, &parts.allele};
    std::size_t from = 0;
    for (int f = 0; f < 3 && from <= text.size(); ++f) {
        const std::size_t at = f < 2 ? text.find(cut, from) : std::string::npos;
        *fields[f] = text.substr(from, at == std::string::npos ? std::string::npos : at - from);
        from = at == std::string::npos ? text.size() + 1 : at + cut.size();
    }
    return parts;
}

// One SNP and gene pair through every statistic, as the scan would take it
// with a threshold that lets every pair through.
void run_pair(GenotypeMatrix& G, ExpressionMatrix& E, ublas::matrix<double>& moments, unsigned i,
              unsigned g1, unsigned g2, char& allele)
{
    ublas::matrix<double> X(static_cast<std::size_t>(n), 2);
    ublas::matrix<unsigned> Y(static_cast<std::size_t>(n), 2);
    getxmatymat_new(X, Y, E, G, i, g1, g2, allele);
    double testStatistic = 0.0;
    ublas::vector<double> groupCounts = ublas::zero_vector<double>(3);
    ublas::matrix<double> groupStats = ublas::zero_matrix<double>(3, 4);
    ublas::matrix<double> groupCov = ublas::zero_matrix<double>(4, 3);
    test_mean_cov(X, Y, moments, groupStats, groupCov, groupCounts, testStatistic, g1, g2);
    llvalue_lda(X, Y, groupStats, groupCov, groupCounts);
    double llR = 0.0, llF = 0.0;
    interaction_test(X, Y, llR, llF, testStatistic);
}

struct ReaderCloser {
    AlleleReader& reader;
    ~ReaderCloser() { close_allele_reader(reader); }
};

void start_up(const std::string& genotype, const std::string& expression, const std::string& allele)
{
    get_parmeters(genotype.c_str(), expression.c_str());
    GenotypeMatrix G(static_cast<std::size_t>(n), 2 * static_cast<std::size_t>(ps));
    read_genotype(G, genotype.c_str());
    ExpressionMatrix E(static_cast<std::size_t>(n), static_cast<std::size_t>(ngene));
    read_expression(E, expression.c_str());
    ublas::matrix<double> moments;
    compute_gene_moments(E, moments);

    AlleleReader reader;
    const ReaderCloser closer{reader};
    const unsigned snps = std::min(static_cast<unsigned>(ps), kMaxSnps);
    const unsigned genes = static_cast<unsigned>(ngene);
    for (unsigned i = 0; i < snps; ++i) {
        unsigned pairs = 0;
        char a = ' ';
        lookup_allele(reader, i, a, allele.c_str());
        for (unsigned g1 = 0; g1 < genes && pairs < kMaxPairsPerSnp; ++g1) {
            for (unsigned g2 = g1 + 1; g2 < genes && pairs < kMaxPairsPerSnp; ++g2, ++pairs)
                run_pair(G, E, moments, i, g1, g2, a);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    const Parts parts = split(data, size);
    const std::string genotype = write_scratch("genotype.txt", parts.genotype);
    const std::string expression = write_scratch("expression.txt", parts.expression);
    const std::string allele = write_scratch("allele.txt", parts.allele);
    try {
        start_up(genotype, expression, allele);
    } catch (const FatalError&) {
        // Rejected: the program would have printed the message and stopped.
    }
    return 0;
}
