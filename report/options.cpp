#include "report/options.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "files/program_error.hpp"

std::map<std::string, std::string> parse_options(int argc, const char* const* argv,
                                                 const std::vector<std::string>& known,
                                                 const std::vector<std::string>& required,
                                                 const std::string& usage,
                                                 const std::vector<std::string>& flags)
{
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "-h" || name == "--help")
            throw HelpAsked{usage};
        const bool flag = std::find(flags.begin(), flags.end(), name) != flags.end();
        if (!flag && std::find(known.begin(), known.end(), name) == known.end())
            throw ProgramError("unknown option '" + name + "' (usage: " + usage + ")");
        if (!flag && i + 1 == argc)
            throw ProgramError("option " + name + " needs a value (usage: " + usage + ")");
        if (!options.emplace(name, flag ? "" : argv[++i]).second)
            throw ProgramError("option " + name + " given twice (usage: " + usage + ")");
    }
    for (const std::string& name : required)
        if (!options.count(name))
            throw ProgramError("option " + name + " is required (usage: " + usage + ")");
    return options;
}

double p_limit(const std::string& text, const std::string& option)
{
    return positive_limit(text, option, "a p-value");
}

double positive_limit(const std::string& text, const std::string& option, const std::string& what)
{
    char* end = nullptr;
    const double p = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(p > 0) || !std::isfinite(p))
        throw ProgramError(option + " needs " + what + " above 0, not '" + text + "'");
    return p;
}

int run_reporting_errors(const std::function<void()>& body, const char* prefix)
{
    try {
        body();
        return 0;
    } catch (const HelpAsked& help) {
        std::printf("usage: %s\n", help.usage.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s%s\n", prefix, e.what());
        return 1;
    }
}
