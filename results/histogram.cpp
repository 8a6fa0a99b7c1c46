#include "results/histogram.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "files/output_path.hpp"
#include "files/program_error.hpp"

namespace {

std::string exact_text(double v)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

void put_counts(std::ostringstream& out, const char* name, const StatCounts& c)
{
    for (unsigned b = 0; b < kBins; ++b)
        if (c.bins[b] != 0)
            out << name << ' ' << b << ' ' << c.bins[b] << '\n';
}

// The file's lines, read in order; every refusal names the file and line.
class Lines {
public:
    explicit Lines(const std::string& path) : path_(path), in_(path)
    {
        if (!in_)
            throw ProgramError("cannot read the histogram " + path);
    }

    [[noreturn]] void fail(const std::string& why) const
    {
        throw ProgramError("the histogram " + path_ + ", line " + std::to_string(number_) + ": " + why);
    }

    bool next()
    {
        if (!std::getline(in_, line_)) {
            if (in_.bad())
                throw ProgramError("cannot read the histogram " + path_);
            return false;
        }
        ++number_;
        return true;
    }

    // The next line, which must start with `key` and a blank; its rest.
    std::string value(const char* key)
    {
        if (!next())
            fail(std::string("ends before its \"") + key + "\" line (cut short?)");
        const std::size_t len = std::strlen(key);
        if (line_.compare(0, len, key) != 0 || line_.size() <= len + 1 || line_[len] != ' ')
            fail(std::string("expected \"") + key + " ...\", found \"" + line_ + "\"");
        return line_.substr(len + 1);
    }

    std::uint64_t number(const char* key)
    {
        return whole(value(key), key);
    }

    std::uint64_t whole(const std::string& text, const char* what) const
    {
        std::uint64_t v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
            fail(std::string(what) + " is not a whole number: \"" + text + "\"");
        return v;
    }

    const std::string& line() const { return line_; }

private:
    std::string path_;
    std::ifstream in_;
    std::string line_;
    std::size_t number_ = 0;
};

// "mc BIN COUNT" and "it BIN COUNT" lines up to the next scan or the end;
// leaves the first other line current.
void read_counts(Lines& in, HistogramScan& scan)
{
    long last[2] = {-1, -1};
    while (in.next()) {
        const std::string& l = in.line();
        const int which = l.compare(0, 3, "mc ") == 0 ? 0 : l.compare(0, 3, "it ") == 0 ? 1 : -1;
        if (which < 0)
            return;
        const std::size_t blank = l.find(' ', 3);
        if (blank == std::string::npos)
            in.fail("a count line is \"mc|it BIN COUNT\", not \"" + l + "\"");
        const std::uint64_t bin = in.whole(l.substr(3, blank - 3), "the bin");
        const std::uint64_t count = in.whole(l.substr(blank + 1), "the count");
        if (bin >= kBins)
            in.fail("bin " + std::to_string(bin) + " is past the last bin, " + std::to_string(kLastBin));
        if (static_cast<long>(bin) <= last[which])
            in.fail("bins must come in increasing order, each once");
        last[which] = static_cast<long>(bin);
        (which == 0 ? scan.mc : scan.it).bins[bin] = count;
    }
}

std::uint64_t total(const StatCounts& c)
{
    std::uint64_t t = c.nan + c.untested;
    for (std::uint64_t v : c.bins)
        t += v;
    return t;
}

}  // namespace

std::string histogram_inputs(const Manifest& run)
{
    const Manifest inputs = run.value("inputs", Manifest::object());
    std::string checksums;
    for (const char* role : {"genotype", "expression", "allele"})
        checksums += (checksums.empty() ? "" : " ") + inputs.value(role, Manifest::object()).value("checksum", "-");
    return checksums;
}

bool bin_of_text(const char* text, const char* end, unsigned& bin, bool& nan)
{
    nan = false;
    const bool negative = text < end && *text == '-';
    const char* p = text + (negative ? 1 : 0);
    const std::size_t len = static_cast<std::size_t>(end - p);
    if (len == 3 && (std::memcmp(p, "nan", 3) == 0)) {
        nan = true;
        return false;
    }
    if (len == 3 && std::memcmp(p, "inf", 3) == 0) {
        bin = negative ? kLastBin : 0;
        return true;
    }
    // Integer digits, a point, exactly six decimals.
    const char* point = static_cast<const char*>(std::memchr(p, '.', len));
    if (!point || point == p || end - point != 7)
        return false;
    std::uint64_t whole = 0, frac = 0;
    const auto a = std::from_chars(p, point, whole);
    const auto b = std::from_chars(point + 1, end, frac);
    if (a.ec != std::errc() || a.ptr != point || b.ec != std::errc() || b.ptr != end || point[1] == '+' ||
        point[1] == '-')
        return false;
    if (!negative) {
        bin = 0;
        return true;
    }
    // -log10 p of whole.frac: bin = floor(100 * value), capped.
    const std::uint64_t units = whole >= kLastBin / kBinsPerUnit ? kLastBin : whole * kBinsPerUnit + frac / 10000;
    bin = units >= kLastBin ? kLastBin : static_cast<unsigned>(units);
    return true;
}

bool count_printed(StatCounts& c, const char* text, const char* end)
{
    unsigned bin = 0;
    bool nan = false;
    if (bin_of_text(text, end, bin, nan)) {
        ++c.bins[bin];
        return true;
    }
    if (nan) {
        ++c.nan;
        return true;
    }
    return false;
}

void add_scan(HistogramScan& a, const HistogramScan& b)
{
    a.pairs += b.pairs;
    for (auto [x, y] : {std::pair<StatCounts*, const StatCounts*>{&a.mc, &b.mc}, {&a.it, &b.it}}) {
        for (unsigned i = 0; i < kBins; ++i)
            x->bins[i] += y->bins[i];
        x->nan += y->nan;
        x->untested += y->untested;
    }
}

std::string histogram_text(const Histogram& h)
{
    const HistogramOrigin& o = h.origin;
    std::ostringstream out;
    out << "morv-histogram 1\n"
        << "inputs " << o.inputs << '\n'
        << "threshold " << exact_text(o.threshold) << '\n'
        << "samples " << o.samples << '\n'
        << "genes " << o.genes << '\n'
        << "snps-in-file " << o.snpsInFile << '\n'
        << "snps " << o.firstSnp << '-' << o.lastSnp << '\n'
        << "bins-per-unit " << kBinsPerUnit << '\n'
        << "bins " << kBins << '\n'
        << "permutations " << o.permutations << '\n'
        << "seed " << o.seed << '\n'
        << "within " << o.within << '\n';
    for (std::size_t k = 0; k < h.scans.size(); ++k) {
        const HistogramScan& s = h.scans[k];
        out << (k == 0 ? std::string("scan real") : "scan permutation " + std::to_string(k)) << '\n'
            << "pairs " << s.pairs << '\n'
            << "mc-nan " << s.mc.nan << '\n'
            << "it-untested " << s.it.untested << '\n'
            << "it-nan " << s.it.nan << '\n';
        put_counts(out, "mc", s.mc);
        put_counts(out, "it", s.it);
    }
    out << "end\n";
    return out.str();
}

void write_histogram(const std::string& path, const Histogram& h)
{
    write_file_atomically(path, histogram_text(h), "the histogram");
}

Histogram read_histogram(const std::string& path)
{
    Lines in(path);
    if (!in.next() || in.line() != "morv-histogram 1")
        in.fail("not a morv histogram (its first line is not \"morv-histogram 1\")");
    Histogram h;
    HistogramOrigin& o = h.origin;
    o.inputs = in.value("inputs");
    const std::string threshold = in.value("threshold");
    char* stop = nullptr;
    o.threshold = std::strtod(threshold.c_str(), &stop);
    if (stop != threshold.c_str() + threshold.size())
        in.fail("the threshold is not a number: \"" + threshold + "\"");
    o.samples = in.number("samples");
    o.genes = in.number("genes");
    o.snpsInFile = in.number("snps-in-file");
    const std::string snps = in.value("snps");
    const std::size_t dash = snps.find('-');
    if (dash == std::string::npos)
        in.fail("the SNP range is FIRST-LAST, not \"" + snps + "\"");
    o.firstSnp = in.whole(snps.substr(0, dash), "the first SNP");
    o.lastSnp = in.whole(snps.substr(dash + 1), "the last SNP");
    if (o.firstSnp > o.lastSnp)
        in.fail("the SNP range " + snps + " runs backwards");
    if (in.number("bins-per-unit") != kBinsPerUnit || in.number("bins") != kBins)
        in.fail("made with other bins than this build's (" + std::to_string(kBins) + " of 1/" +
                std::to_string(kBinsPerUnit) + ")");
    const std::uint64_t k = in.number("permutations");
    if (k > kMaxPermutations)
        in.fail("more permutations than any run makes: " + std::to_string(k));
    o.permutations = static_cast<unsigned>(k);
    o.seed = in.number("seed");
    o.within = in.value("within");
    if (!in.next())
        in.fail("ends before its first scan (cut short?)");
    for (unsigned scan = 0; scan <= o.permutations; ++scan) {
        const std::string want = scan == 0 ? "scan real" : "scan permutation " + std::to_string(scan);
        if (in.line() != want)
            in.fail("expected \"" + want + "\", found \"" + in.line() + "\"");
        HistogramScan s;
        s.pairs = in.number("pairs");
        s.mc.nan = in.number("mc-nan");
        s.it.untested = in.number("it-untested");
        s.it.nan = in.number("it-nan");
        read_counts(in, s);
        if (total(s.mc) != s.pairs || total(s.it) != s.pairs)
            in.fail("the counts of " + want + " do not add up to its " + std::to_string(s.pairs) + " pairs");
        h.scans.push_back(std::move(s));
    }
    if (in.line() != "end")
        in.fail("expected \"end\", found \"" + in.line() + "\" (cut short, or more scans than it says?)");
    if (in.next())
        in.fail("has lines after \"end\"");
    return h;
}

Histogram add_histograms(const Histogram& a, const Histogram& b, const std::string& aName,
                         const std::string& bName)
{
    const HistogramOrigin &x = a.origin, &y = b.origin;
    const auto differ = [&](const std::string& what, const std::string& u, const std::string& v) {
        throw ProgramError(aName + " and " + bName + " differ in " + what + " (" + u + " against " + v +
                           "): they were not made from the same run's inputs and options");
    };
    if (x.inputs != y.inputs)
        differ("their inputs' checksums", x.inputs, y.inputs);
    if (x.threshold != y.threshold && !(x.threshold != x.threshold && y.threshold != y.threshold))
        differ("the threshold", exact_text(x.threshold), exact_text(y.threshold));
    if (x.samples != y.samples || x.genes != y.genes || x.snpsInFile != y.snpsInFile)
        differ("samples, genes or SNPs", std::to_string(x.samples) + "/" + std::to_string(x.genes),
               std::to_string(y.samples) + "/" + std::to_string(y.genes));
    if (x.permutations != y.permutations || x.seed != y.seed)
        differ("permutations and seed", std::to_string(x.permutations) + " " + std::to_string(x.seed),
               std::to_string(y.permutations) + " " + std::to_string(y.seed));
    if (x.within != y.within)
        differ("the sample groups permuted within", x.within, y.within);
    if (y.firstSnp != x.lastSnp + 1)
        throw ProgramError(bName + " begins at SNP " + std::to_string(y.firstSnp) + " but " + aName +
                           " ends at SNP " + std::to_string(x.lastSnp) + ": histograms add only over SNP ranges that follow on");
    Histogram sum = a;
    sum.origin.lastSnp = y.lastSnp;
    for (std::size_t k = 0; k < sum.scans.size(); ++k)
        add_scan(sum.scans[k], b.scans[k]);
    return sum;
}
