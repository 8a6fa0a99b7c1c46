// Fuzz target: the histogram reader, and morv-fdr's arithmetic over whatever
// it accepts. An accepted file must write back to a text that reads as the
// same histogram; its q-values must never rise at a stricter cut-off.
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/program_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "report/fdr.hpp"
#include "results/histogram.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    const std::string path = write_scratch("input.hist", data, size);
    Histogram h;
    try {
        h = read_histogram(path);
    } catch (const ProgramError&) {
        return 0;
    }
    const std::string text = histogram_text(h);
    require(histogram_text(read_histogram(write_scratch("again.hist", text))) == text,
            "a histogram reads back as itself");
    try {
        check_permutation_scans(h, path);
    } catch (const ProgramError&) {
        return 0;
    }
    for (Statistic s : {&HistogramScan::mc, &HistogramScan::it}) {
        const FdrCurve c = fdr_curve(h, s);
        for (std::size_t b = 1; b < c.q.size(); ++b)
            require(!(c.q[b] > c.q[b - 1]) && !(c.q[b] > 1.0), "q never rises at a stricter cut-off, nor above 1");
    }
    fdr_table(h, 0.05, "0.05");
    return 0;
}
