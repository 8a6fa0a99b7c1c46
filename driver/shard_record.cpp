#include "driver/shard_record.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string format_record(const ShardRecord& r)
{
    return "morv-shard 1\nsnps " + std::to_string(r.first) + "-" + std::to_string(r.last) + "\npairs " +
           std::to_string(r.pairs) + "\nprunings " + std::to_string(r.prunings) + "\nomit-pruned " +
           (r.omitPruned ? "1" : "0") + "\nbgzip " + (r.bgzip ? "1" : "0") + "\n";
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

// Six lines of a key, a space and a value each; far shorter than this.
constexpr std::size_t kLongestRecord = 512;
const char* const kRecordLines[] = {"morv-shard 1", "snps FIRST-LAST", "pairs P", "prunings Q", "omit-pruned 0|1",
                                    "bgzip 0|1"};

bool parse_value(int line, const std::string& value, ShardRecord& r)
{
    switch (line) {
    case 0: return value == "1";
    case 1: return parse_range(value, r);
    case 2: return parse_count(value, r.pairs);
    case 3: return parse_count(value, r.prunings);
    case 4: return parse_flag(value, r.omitPruned);
    default: return parse_flag(value, r.bgzip);
    }
}

// What is wrong with `text` as a record, "" when nothing.
std::string parse_record(const std::string& text, ShardRecord& r)
{
    if (text.size() > kLongestRecord)
        return "longer than a shard record can be";
    std::size_t at = 0;
    for (int k = 0; k < 6; ++k) {
        const std::string form = kRecordLines[k], key = form.substr(0, form.find(' '));
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return "line " + std::to_string(k + 1) + " should be \"" + form + "\" and end with a newline";
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        std::string value;
        if (!value_of(line, key, value) || !parse_value(k, value, r))
            return "line " + std::to_string(k + 1) + " is \"" + line + "\", not \"" + form + "\"";
    }
    if (at != text.size())
        return "more than the six lines of a shard record";
    return r.prunings > r.pairs ? "more prunings than pairs" : "";
}

}  // namespace

std::string shard_record_path(const std::string& resultPath)
{
    return resultPath + ".shard";
}

bool write_shard_record(const std::string& resultPath, const ShardRecord& r)
{
    const std::string path = shard_record_path(resultPath), temporary = path + ".tmp";
    const std::string text = format_record(r);
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) == 0 && written && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
    return false;
}

void remove_shard_record(const std::string& resultPath)
{
    std::remove(shard_record_path(resultPath).c_str());
}

bool read_shard_record(const std::string& resultPath, ShardRecord& r, std::string& why)
{
    const std::string path = shard_record_path(resultPath);
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
