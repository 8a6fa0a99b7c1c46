#pragma once

#include <iosfwd>
#include <limits>
#include <string>
#include <vector>

#include "report/effects.hpp"
#include "report/fdr.hpp"
#include "report/result_reader.hpp"

// What morv-prepare's tables say about each index morv uses.
struct PreparedTables {
    std::vector<std::string> snps;   // "id\tchrom\tpos\tref\talt" by SNP index
    std::vector<std::string> genes;  // gene id by gene index
};
PreparedTables read_prepared(const std::string& dir);

// Which result lines to keep. Limits are on the log10 columns as written.
struct AnnotateFilter {
    bool flags[3] = {true, true, true};
    double max_log10_mc = std::numeric_limits<double>::infinity();
    double max_log10_it = std::numeric_limits<double>::infinity();
    bool it_required = false;  // only lines with an IT value pass
};
void set_flags(AnnotateFilter& filter, const std::string& list);  // e.g. "1,2"
bool keeps(const AnnotateFilter& filter, const ResultRecord& record);

// The q-value columns of --fdr: each test's q-value by the bin of the row's
// printed value, and the rows --max-q keeps (those with either at most it).
struct QColumns {
    FdrCurve mc, it;
    double max_q = std::numeric_limits<double>::infinity();
};
QColumns read_q_columns(const Histogram& h, const std::string& histogram);

// Streams the result file and writes the kept lines, with the tables' IDs,
// as a tab-separated table with a header line; with `effects`, each kept
// line's effect columns too; with `q`, its q-values (before the effects).
void annotate(const std::string& results, const PreparedTables& tables, const AnnotateFilter& filter,
              std::ostream& out, bool partial = false, const EffectTables* effects = nullptr,
              const QColumns* q = nullptr);
