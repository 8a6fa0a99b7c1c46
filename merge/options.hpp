#pragma once

#include <string>
#include <vector>

struct MergeOptions {
    std::string out;
    std::vector<std::string> shards;
    std::string histogram;  // --histogram HIST: the shards' histograms summed into HIST
    bool help = false;  // -h or --help: print the usage and nothing else
};

// The usage line, without its newline.
extern const char* const kMergeUsage;

// What --help prints after it: the histograms' convention.
extern const char* const kMergeHelp;

// The arguments after the program name: "-o OUT" and "--histogram HIST"
// anywhere, the shards in any order. Throws ProgramError on an unknown
// option, a missing or repeated -o or --histogram, or no shard.
MergeOptions parse_merge_options(const std::vector<std::string>& args);
