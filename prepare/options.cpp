#include "prepare/options.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "files/program_error.hpp"

const char* const kUsage =
    "usage: morv-prepare --vcf FILE --expression FILE --out DIR [--sample-map FILE] [--genes FILE]\n"
    "                    [--samples FILE] [--region CHR[:FROM-TO]] [--min-class N] [--maf X] [--scale log2|log10|ln]\n"
    "                    [--bed-columns 4|6] [--transform log|int] [--pseudocount C] [--covariates FILE]\n";

namespace {

long whole_number(const std::string& text, const std::string& option)
{
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 0)
        throw ProgramError(option + " wants a whole number, not \"" + text + "\"");
    return v;
}

// A number for `option` that `fits` accepts, or an error saying what it wants.
double real_number(const std::string& text, const std::string& option, bool (*fits)(double), const char* wants)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !fits(v))
        throw ProgramError(option + " wants " + wants + ", not \"" + text + "\"");
    return v;
}

Region parse_region(const std::string& text)
{
    if (!text.empty() && text.find(':') == std::string::npos)
        return {text, 1, std::numeric_limits<long>::max()};
    const std::size_t colon = text.rfind(':'), dash = text.find('-', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || colon == 0 || dash == std::string::npos)
        throw ProgramError("--region wants CHR or CHR:FROM-TO, not \"" + text + "\"");
    Region r{text.substr(0, colon), whole_number(text.substr(colon + 1, dash - colon - 1), "--region"),
             whole_number(text.substr(dash + 1), "--region")};
    if (r.from > r.to)
        throw ProgramError("--region " + text + " ends before it starts");
    return r;
}

}  // namespace

Options parse_options(const std::vector<std::string>& args)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (i + 1 >= args.size())
            throw ProgramError(name + " wants a value");
        const std::string& value = args[i + 1];
        o.given[name] = value;
        if (name == "--vcf") o.vcf = value;
        else if (name == "--expression") o.expression = value;
        else if (name == "--out") o.out = value;
        else if (name == "--sample-map") o.sample_map = value;
        else if (name == "--genes") o.genes = value;
        else if (name == "--samples") o.samples = value;
        else if (name == "--region") o.filter.region = parse_region(value);
        else if (name == "--min-class") o.filter.min_class = static_cast<std::size_t>(whole_number(value, name));
        else if (name == "--maf")
            o.filter.maf = real_number(value, name, [](double v) { return v >= 0 && v <= 0.5; }, "a number from 0 to 0.5");
        else if (name == "--scale") {
            if (value == "log2") o.scale = Scale::log2;
            else if (value == "log10") o.scale = Scale::log10;
            else if (value == "ln") o.scale = Scale::ln;
            else throw ProgramError("--scale wants log2, log10 or ln, not \"" + value + "\"");
        } else if (name == "--transform") {
            if (value == "log") o.values.transform = Transform::log;
            else if (value == "int") o.values.transform = Transform::inverse_normal;
            else throw ProgramError("--transform wants log or int, not \"" + value + "\"");
        } else if (name == "--pseudocount")
            o.values.pseudocount =
                real_number(value, name, [](double v) { return v > 0 && std::isfinite(v); }, "a number above 0");
        else if (name == "--covariates") {
            o.covariates = value;
        } else if (name == "--bed-columns") {
            if (value != "4" && value != "6")
                throw ProgramError("--bed-columns wants 4 or 6, not \"" + value + "\"");
            o.bed_columns = value == "4" ? 4 : 6;
        } else
            throw ProgramError("unknown option " + name);
    }
    if (o.vcf.empty() || o.expression.empty() || o.out.empty())
        throw ProgramError("--vcf, --expression and --out are required");
    // Residualised log values are heavy-tailed: ranks are what calibrates
    // the tests, so covariates bring the rank transform unless told otherwise.
    if (!o.given.count("--transform") && !o.covariates.empty())
        o.values.transform = Transform::inverse_normal;
    if (o.values.pseudocount > 0 && o.values.transform == Transform::inverse_normal && o.covariates.empty())
        throw ProgramError("--pseudocount changes nothing under --transform int (it keeps every rank); leave it out");
    return o;
}
