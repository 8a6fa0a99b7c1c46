#include "results/shard_record.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files/output_path.hpp"

namespace {

std::string format_record(const ShardRecord& r)
{
    return "morv-shard 2\nsnps " + std::to_string(r.first) + "-" + std::to_string(r.last) + "\npairs " +
           std::to_string(r.pairs) + "\nprunings " + std::to_string(r.prunings) + "\nlines " +
           std::to_string(r.lines) + "\nomit-pruned " + (r.omitPruned ? "1" : "0") + "\nbgzip " +
           (r.bgzip ? "1" : "0") + "\n";
}

// A decimal number exactly as format_record writes it: digits only, no sign,
// no leading zero, no overflow (the text must be the number's own spelling).
bool parse_count(const std::string& text, std::uint64_t& v)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    v = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0 && std::to_string(v) == text;
}

bool parse_flag(const std::string& text, bool& v)
{
    v = text == "1";
    return text == "0" || text == "1";
}

// The value after "<key> " on a line, or false when the line has another key.
bool value_of(const std::string& line, const std::string& key, std::string& value)
{
    if (line.compare(0, key.size() + 1, key + " ") != 0)
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

bool parse_range(const std::string& text, ShardRecord& r)
{
    const std::size_t dash = text.find('-');
    return dash != std::string::npos && parse_count(text.substr(0, dash), r.first) &&
           parse_count(text.substr(dash + 1), r.last) && r.first <= r.last;
}

// Seven lines of a key, a space and a value each; far shorter than this.
constexpr std::size_t kLongestRecord = 512;

// The lines of a record of each version; version 1 has no "lines".
std::vector<std::string> record_lines(int version)
{
    std::vector<std::string> lines = {"morv-shard " + std::to_string(version), "snps FIRST-LAST", "pairs P",
                                      "prunings Q", "lines L", "omit-pruned 0|1", "bgzip 0|1"};
    if (version == 1)
        lines.erase(lines.begin() + 4);
    return lines;
}

bool parse_value(const std::string& key, const std::string& value, ShardRecord& r)
{
    if (key == "snps")
        return parse_range(value, r);
    if (key == "pairs")
        return parse_count(value, r.pairs);
    if (key == "prunings")
        return parse_count(value, r.prunings);
    if (key == "lines")
        return parse_count(value, r.lines);
    if (key == "omit-pruned")
        return parse_flag(value, r.omitPruned);
    return parse_flag(value, r.bgzip);
}

// What no run of morv can have written, "" when the counts fit together.
std::string check_counts(const ShardRecord& r)
{
    const std::uint64_t snps = r.last - r.first + 1;
    if (r.last > kMaxSnpIndex)
        return "SNP " + std::to_string(r.last) + " is beyond the highest index morv writes (" +
               std::to_string(kMaxSnpIndex) + ")";
    if (genes_of(r) == 0)
        return "pairs " + std::to_string(r.pairs) + " are not the same whole number of gene pairs for each of its " +
               std::to_string(snps) + " SNPs";
    if (r.prunings > r.pairs)
        return "more prunings than pairs";
    if (r.linesKnown && (r.lines > r.pairs || (!r.omitPruned && r.lines != r.pairs) ||
                         r.lines < r.pairs - r.prunings))
        return "lines " + std::to_string(r.lines) + " do not fit pairs " + std::to_string(r.pairs) + " and prunings " +
               std::to_string(r.prunings) + (r.omitPruned ? "" : " without omit-pruned");
    return "";
}

// What is wrong with `text` as a record, "" when nothing.
std::string parse_record(const std::string& text, ShardRecord& r)
{
    if (text.size() > kLongestRecord)
        return "longer than a shard record can be";
    const int version = text.rfind("morv-shard 1\n", 0) == 0 ? 1 : 2;
    r.linesKnown = version == 2;
    std::size_t at = 0;
    const std::vector<std::string> forms = record_lines(version);
    for (std::size_t k = 0; k < forms.size(); ++k) {
        const std::string& form = forms[k];
        const std::string key = form.substr(0, form.find(' '));
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return "line " + std::to_string(k + 1) + " should be \"" + form + "\" and end with a newline";
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        std::string value;
        if (!value_of(line, key, value) || (k == 0 ? line != form : !parse_value(key, value, r)))
            return "line " + std::to_string(k + 1) + " is \"" + line + "\", not \"" + form + "\"";
    }
    if (at != text.size())
        return "more than the " + std::to_string(forms.size()) + " lines of a shard record";
    return check_counts(r);
}

}  // namespace

std::uint64_t genes_of(const ShardRecord& r)
{
    const std::uint64_t snps = r.last - r.first + 1;
    if (r.first > r.last || r.pairs % snps != 0)
        return 0;
    const std::uint64_t perSnp = r.pairs / snps;
    if (perSnp > std::uint64_t(2147483647) * 2147483646 / 2)  // more than 2^31 - 1 genes make
        return 0;
    // n (n - 1) / 2 = perSnp: n near sqrt(2 perSnp), checked exactly (n stays below 2^31.5 for any 64-bit count).
    std::uint64_t n = static_cast<std::uint64_t>(std::sqrt(2.0 * static_cast<double>(perSnp))) + 1;
    while (n > 1 && n * (n - 1) / 2 > perSnp)
        --n;
    while (n * (n - 1) / 2 < perSnp)
        ++n;
    return n * (n - 1) / 2 == perSnp && n <= 2147483647 ? std::max<std::uint64_t>(n, 1) : 0;
}

std::string shard_record_path(const std::string& resultPath)
{
    return resultPath + ".shard";
}

void write_shard_record(const std::string& resultPath, const ShardRecord& r)
{
    write_file_atomically(shard_record_path(resultPath), format_record(r), "the shard record");
}

void remove_shard_record(const std::string& resultPath)
{
    // unlink, not remove: a folder of that name is not ours to delete.
    ::unlink(shard_record_path(resultPath).c_str());
}

bool read_shard_record(const std::string& resultPath, ShardRecord& r, std::string& why)
{
    const std::string path = shard_record_path(resultPath);
    // Never opened when it is not a regular file: a FIFO would block.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        why = "the shard record " + path + " is not a regular file";
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        why = errno == ENOENT ? resultPath + " has no shard record " + path +
                                    " (was it written by a finished morv --snps run?)"
                              : "cannot read the shard record " + path + ": " + std::strerror(errno);
        return false;
    }
    char buffer[kLongestRecord + 1];
    const std::size_t size = std::fread(buffer, 1, sizeof buffer, f);
    const bool failed = std::ferror(f);
    std::fclose(f);
    why = failed ? "cannot read the shard record " + path : parse_record(std::string(buffer, size), r);
    if (!failed && !why.empty())
        why = path + " is not a shard record: " + why;
    return why.empty();
}
