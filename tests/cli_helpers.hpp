#pragma once

// Shared pieces of the black-box tests of the whole program: the texts it
// prints, builders of small input files, and a parser of the result file.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support.hpp"

namespace cli {

// The fixed argv[0]: it is echoed by the usage line and getopt's messages.
inline const std::string kProgram = "morv";

inline std::string usage_line()
{
    return "Usage: " + kProgram + " [-h] -g filenameG -e filenameE -a filenameA -o filenameO\n";
}

inline const std::string kHeader =
    "Results of MORV:\n";
inline const std::string kColumnHeader =
    "SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t p-value(IT)\n";

// Standard output up to and including "check the size of the input data...".
inline std::string report_until_size(const std::string& g, const std::string& e,
                                     const std::string& a, const std::string& o)
{
    return "# of arguments: 0\n"
           "threshold of MC test's pvalue?: check the files...\n"
           "genotype  : " + g + "\n"
           "expression: " + e + "\n"
           "allele    : " + a + "\n"
           "output    : " + o + "\n"
           "check the size of the input data...\n";
}

inline std::string count_lines(int ps, int ngene, int n)
{
    return "#SNPs : " + std::to_string(ps) + "\n#genes: " + std::to_string(ngene) +
           "\nn     : " + std::to_string(n) + "\n";
}

inline std::string echo_lines(const std::string& genotypes, const std::string& expressions)
{
    return "read genotypes... " + genotypes + "...\nread expressions... " + expressions +
           "...\n";
}

inline std::string final_counts(unsigned long long pairs, unsigned long long prunings)
{
    return "Running...\n#pairs: " + std::to_string(pairs) + "\n#prunings: " +
           std::to_string(prunings) + "\n";
}

// One genotype line from one class per SNP, reference allele A: class 0 is
// A,A, class 1 is A,G, class 2 is G,G; tab-separated, no trailing tab.
inline std::string genotype_line(const std::vector<int>& classPerSnp)
{
    static const char* const kPairs[3] = {"A\tA", "A\tG", "G\tG"};
    std::string line;
    for (std::size_t k = 0; k < classPerSnp.size(); ++k)
        line += (k ? "\t" : "") + std::string(kPairs[classPerSnp[k]]);
    return line + "\n";
}

// A genotype file of one SNP whose samples fall into the given classes.
inline std::string one_snp_genotypes(const std::vector<int>& classes)
{
    std::string text;
    for (int c : classes)
        text += genotype_line({c});
    return text;
}

// 10^x written so that it reads back exactly; log10 of it then gives back x
// for the small integers and halves the known-value tests use (checked by
// the caller with exact_log10).
inline std::string pow10_text(double x)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", std::pow(10.0, x));
    return buf;
}

inline bool exact_log10(double x)
{
    return std::log10(std::strtod(pow10_text(x).c_str(), nullptr)) == x;
}

// An expression file with one line per gene holding 10^x for each log value.
inline std::string expression_from_logs(const std::vector<std::vector<double>>& logsPerGene)
{
    std::string text;
    for (const auto& gene : logsPerGene) {
        for (std::size_t s = 0; s < gene.size(); ++s)
            text += (s ? " " : "") + pow10_text(gene[s]);
        text += "\n";
    }
    return text;
}

inline std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (true) {
        const auto at = text.find(sep, start);
        if (at == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

// The lines of a text that ends in a newline, without their newlines.
inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines = split(text, '\n');
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// The four input/output files of one run inside a scratch directory.
struct RunFiles {
    std::string genotype, expression, allele, output;
};

inline RunFiles write_inputs(const testsupport::TempDir& dir, const std::string& geno,
                             const std::string& expr, const std::string& allele)
{
    return {dir.write("g.txt", geno), dir.write("e.txt", expr), dir.write("a.txt", allele),
            dir.file("out.txt")};
}

inline testsupport::RunResult run_with(const std::string& binary, const RunFiles& f,
                                       const std::string& threshold)
{
    return testsupport::run(binary,
                            {kProgram, "-g", f.genotype, "-e", f.expression, "-a", f.allele,
                             "-o", f.output},
                            threshold);
}

}  // namespace cli
