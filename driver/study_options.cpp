#include "driver/study_options.hpp"

#include <charconv>
#include <cstring>
#include <string>

#include "io/error.hpp"
#include "results/histogram.hpp"

namespace {

// Whole decimal number, nothing else.
bool parse_number(const char* text, const char* end, std::uint64_t& value)
{
    if (text == end)
        return false;
    const auto r = std::from_chars(text, end, value);
    return r.ec == std::errc() && r.ptr == end;
}

// The value of `option`, a whole number from low to high; else the run ends.
std::uint64_t whole_number(const char* option, const char* text, std::uint64_t low, std::uint64_t high)
{
    std::uint64_t value = 0;
    if (!parse_number(text, text + std::strlen(text), value) || value < low || value > high)
        error(std::string("Error: ") + option + " takes a whole number from " + std::to_string(low) + " to " +
              std::to_string(high) + ", not \"" + text + "\".");
    return value;
}

void parse_snps(const char* text, StudyOptions& o)
{
    const char* end = text + std::strlen(text);
    const char* dash = std::strchr(text, '-');
    if (!dash || !parse_number(text, dash, o.firstSnp) || !parse_number(dash + 1, end, o.lastSnp) ||
        o.firstSnp > o.lastSnp)
        error("Error: --snps takes FIRST-LAST, two SNP indices counted from 0 with FIRST <= LAST, not \"" +
              std::string(text) + "\".");
    o.snpRange = true;
}


std::string file_name(const char* option, const char* text)
{
    if (*text == '\0')
        error(std::string("Error: ") + option + " needs a file name.");
    return text;
}

// The options that only mean something beside another.
void check_companions(const StudyOptions& o)
{
    if (o.permutations > 0 && o.histogram.empty())
        error("Error: --permutations needs --histogram FILE: the permuted scans write only counts.");
    if (o.permutations > 0 && !o.seedGiven)
        error("Error: --permutations needs --seed S, so the permuted scans can be made again.");
    if (o.seedGiven && o.permutations == 0)
        error("Error: --seed is for --permutations K.");
    if (!o.permuteWithin.empty() && o.permutations == 0)
        error("Error: --permute-within needs --permutations K.");
}

// A classic short-option word: does it leave the next word as its argument?
bool takes_next_word(const char* word)
{
    for (const char* c = word + 1; *c; ++c)
        if (std::strchr("geao", *c))
            return c[1] == '\0';
    return false;
}

}  // namespace

void take_study_options(int& argc, char** argv, StudyOptions& o)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        const char* value = nullptr;
        auto named = [&](const char* name, bool hasValue) {
            const std::size_t len = std::strlen(name);
            if (std::strncmp(word, name, len) != 0)
                return false;
            if (!hasValue)
                return word[len] == '\0';
            if (word[len] == '=') {
                value = word + len + 1;
                return true;
            }
            if (word[len] != '\0')
                return false;
            if (i + 1 >= argc)
                error(std::string("Error: ") + name + " needs a value.");
            value = argv[++i];
            return true;
        };
        if (std::strcmp(word, "--") == 0) {
            while (i < argc)
                argv[kept++] = argv[i++];
            break;
        }
        if (named("--threads", true))
            o.threads = static_cast<unsigned>(whole_number("--threads", value, 1, 1024));
        else if (named("--snps", true))
            parse_snps(value, o);
        else if (named("--omit-pruned", false))
            o.omitPruned = true;
        else if (named("--bgzip", false))
            o.bgzip = true;
        else if (named("--histogram", true))
            o.histogram = file_name("--histogram", value);
        else if (named("--permutations", true))
            o.permutations = static_cast<unsigned>(whole_number("--permutations", value, 1, kMaxPermutations));
        else if (named("--seed", true)) {
            o.seed = whole_number("--seed", value, 0, UINT64_MAX);
            o.seedGiven = true;
        }
        else if (named("--permute-within", true))
            o.permuteWithin = file_name("--permute-within", value);
        else {
            argv[kept++] = argv[i];
            if (word[0] == '-' && word[1] != '-' && word[1] != '\0' && takes_next_word(word) && i + 1 < argc)
                argv[kept++] = argv[++i];
            continue;
        }
        o.any = true;
    }
    argv[kept] = nullptr;
    argc = kept;
    check_companions(o);
}

void check_snp_range(const StudyOptions& o, int snps)
{
    if (!o.snpRange)
        return;
    if (snps <= 0 || o.lastSnp >= static_cast<std::uint64_t>(snps))
        error("Error: --snps " + std::to_string(o.firstSnp) + "-" + std::to_string(o.lastSnp) +
              " is outside the genotype file's SNPs 0-" + std::to_string(snps - 1) + ".");
}
