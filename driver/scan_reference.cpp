// The reference scan: the definition of the results. Every pair is assembled,
// tested and written on its own, exactly as the statistics are defined; the
// allele is looked up per SNP and the result file is reopened for every line.
// Slow on purpose: the fast scan is held byte for byte against it.
#include "driver/scan.hpp"

#include "driver/result_file.hpp"
#include "io/allele.hpp"
#include "io/globals.hpp"
#include "io/pair_data.hpp"
#include "stats/cascade.hpp"
#include "stats/interaction.hpp"
#include "stats/lda.hpp"
#include "stats/mean_cov.hpp"

ScanCounts run_scan_reference(const RunPaths& paths, double threshold, GenotypeMatrix& G,
                              ExpressionMatrix& E, ublas::matrix<double>& geneMoments)
{
    ScanCounts counts;
    const double ldaCutoff = lda_cutoff();
    const unsigned snps = static_cast<unsigned>(ps);
    const unsigned genes = static_cast<unsigned>(ngene);
    for (unsigned i = 0; i < snps; ++i) {
        char allele = ' ';
        getallele(i, allele, paths.allele.c_str());
        for (unsigned g1 = 0; g1 < genes; ++g1) {
            for (unsigned g2 = g1 + 1; g2 < genes; ++g2) {
                ++counts.pairs;
                ublas::matrix<double> X(n, 2);
                ublas::matrix<unsigned> Y(n, 2);
                getxmatymat_new(X, Y, E, G, i, g1, g2, allele);

                double testStatistic = 0.0;
                ublas::vector<double> groupCounts = ublas::zero_vector<double>(3);
                ublas::matrix<double> groupStats = ublas::zero_matrix<double>(3, 4);
                ublas::matrix<double> groupCov = ublas::zero_matrix<double>(4, 3);
                const double pMc = test_mean_cov(X, Y, geneMoments, groupStats, groupCov,
                                                 groupCounts, testStatistic, g1, g2);
                double lda = 0.0, pIt = 0.0;
                int flag = kPrunedByMc;
                if (threshold > pMc) {
                    lda = llvalue_lda(X, Y, groupStats, groupCov, groupCounts);
                    if (ldaCutoff > lda) {
                        double llR = 0.0, llF = 0.0;
                        pIt = interaction_test(X, Y, llR, llF, testStatistic);
                        flag = kAllComputed;
                    } else {
                        flag = kPrunedByLda;
                    }
                }
                if (flag != kAllComputed)
                    ++counts.prunings;
                append_result_line(paths.output, i, g1, g2, flag, pMc, lda, pIt);
            }
        }
    }
    counts.lines = counts.pairs;
    return counts;
}
