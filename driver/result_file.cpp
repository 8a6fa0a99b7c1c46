#include "driver/result_file.hpp"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "io/error.hpp"
#include "results/bgzf_blocks.hpp"
#include "stats/cascade.hpp"

void output_write_failed()
{
    error("Error: Cannot write the output file.");
}

void output_open_failed()
{
    error("Error: Cannot open the output file.");
}

std::string result_header(double threshold)
{
    char line[512];
    if (threshold >= std::pow(10.0, -6) || threshold == 0)
        std::snprintf(line, sizeof line, "threshold = %lf\n", threshold);
    else
        std::snprintf(line, sizeof line, "log10(threshold) = %lf\n", std::log10(threshold));
    return std::string("Results of MORV:\n") + line +
           "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t p-value(IT)\n";
}

void write_result_header(const std::string& path, double threshold, bool bgzip)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        output_open_failed();
    const std::string header = result_header(threshold);
    TextBuffer bytes;
    if (bgzip) {
        try {
            bgzf_compress_lines(header.data(), header.size(), -1, bytes);
        } catch (const std::runtime_error&) {
            output_write_failed();
        }
    } else
        bytes.assign(header.begin(), header.end());
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok)
        output_write_failed();
}

void append_result_line(const std::string& path, unsigned snp, unsigned g1, unsigned g2,
                        int flag, double pMc, double lda, double pIt)
{
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        output_open_failed();
    const int i = static_cast<int>(snp), a = static_cast<int>(g1), b = static_cast<int>(g2);
    int written;
    if (flag == kPrunedByMc)
        written = std::fprintf(f, "%d\t%d\t%d\t%d\t%f\t%.1f\t%.1f\n", i, a, b, flag,
                               std::log10(pMc), 1.0, std::log10(10.0));
    else if (flag == kPrunedByLda)
        written = std::fprintf(f, "%d\t%d\t%d\t%d\t%f\t%f\t%.1f\n", i, a, b, flag,
                               std::log10(pMc), lda, std::log10(10.0));
    else
        written = std::fprintf(f, "%d\t%d\t%d\t%d\t%f\t%f\t%f\n", i, a, b, flag,
                               std::log10(pMc), lda, std::log10(pIt));
    if (std::fclose(f) != 0 || written < 0)
        output_write_failed();
}
