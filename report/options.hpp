#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// The command line of a report program: "--name value" pairs for the names
// in `known`, the names in `flags` alone, which map to "", or -h or --help,
// which throws HelpAsked. Throws ProgramError on an unknown or repeated
// option, a missing value or a missing required option; each such message
// ends with `usage`.
std::map<std::string, std::string> parse_options(int argc, const char* const* argv,
                                                 const std::vector<std::string>& known,
                                                 const std::vector<std::string>& required,
                                                 const std::string& usage,
                                                 const std::vector<std::string>& flags = {});

// A p-value limit: a number above 0 (above 1 keeps everything).
double p_limit(const std::string& text, const std::string& option);

// The same for another kind of limit, named by `what` ("a q-value").
double positive_limit(const std::string& text, const std::string& option, const std::string& what);

// Thrown by parse_options: not a failure, so not a ProgramError.
struct HelpAsked {
    std::string usage;
};

// Runs a report program's body: a ProgramError (or any other failure) becomes
// `prefix` and its message on standard error and status 1; HelpAsked the
// usage on standard output and status 0.
int run_reporting_errors(const std::function<void()>& body, const char* prefix = "Error: ");
