#pragma once

#include <string>
#include <vector>

struct MergeOptions {
    std::string out;
    std::vector<std::string> shards;
    bool help = false;  // -h or --help: print the usage and nothing else
};

// One line, without its newline.
extern const char* const kMergeUsage;

// The arguments after the program name: "-o OUT" anywhere, the shards in any
// order. Throws ProgramError on an unknown option, a missing or repeated -o, or
// no shard.
MergeOptions parse_merge_options(const std::vector<std::string>& args);
