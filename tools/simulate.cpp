// morv-simulate: writes a genotype file, an expression file and an allele
// file of any size, with planted genotype-dependent effects, for tests,
// benchmarks and examples. The same options and seed give the same files.
//
// Usage:
//   morv-simulate --samples N --snps S --genes G --out PREFIX [options]
// writes PREFIX.geno, PREFIX.expr and PREFIX.allele.
//
// Model. Every SNP has two distinct nucleotides; the first is the reference
// allele (written to the allele file). With q the frequency of the other
// allele, the class sizes are the Hardy-Weinberg proportions rounded:
// round(N q^2) samples carry no reference allele (class 2),
// round(2 N q (1-q)) carry one (class 1), the rest two (class 0); the
// samples are then shuffled. Gene g has log10 expression
//   base_g + sd_g * (z + sum of SIZE * (non-reference alleles at SNP))
// with base_g drawn from [1, 3], sd_g from [0.15, 0.35] and z a standard
// normal (unit variance in every class). A covariance effect on genes g1,
// g2 makes their z correlated by +RHO in class 0, 0 in class 1 and -RHO in
// class 2 of its SNP. A gene whose covariance effects add up to more than
// 0.99 has them all scaled down together. The file holds 10^log10 value.
//
// Options:
//   --samples N, --snps S (both >= 1), --genes G (>= 0), --out PREFIX
//   --seed K                 default 1
//   --maf Q                  non-reference allele frequency of every SNP
//                            (default: drawn per SNP from [0.15, 0.5])
//   --rare SNP:Q             that frequency for one SNP, e.g. 0.1 with 100
//                            samples gives a class 2 of one sample, 0.05 none
//   --mean-effect SNP:GENE:SIZE       SIZE in units of the gene's sd
//   --cov-effect SNP:GENE1:GENE2:RHO  -0.99 <= RHO <= 0.99
//   --random-effects F[:SIZE[:RHO]]   per SNP, pick round(G (1 - sqrt(1-F)))
//                            genes, so that a fraction F of the gene pairs
//                            hold at least one of them; each gets a mean
//                            effect SIZE (default 1) and all share one
//                            covariance effect of strength RHO (default 0.5,
//                            sign per gene random)
//   --lower-case F[:geno|allele|both]  each allele letter of the chosen
//                            file(s) is lower case with probability F
//   --nonpositive F          each expression value is replaced with
//                            probability F, half of them by 0, half by the
//                            negated value
//   --separator tab|space    default tab
//   --crlf                   lines end in carriage return plus newline
//   --trailing-separator     genotype and expression lines end in a separator
//   -h, --help
// SNP and gene indices count from 0. Effect options may be repeated; they
// add up. Each part of the data has its own random stream, so format options
// change no value, and a larger --lower-case or --nonpositive fraction
// changes a superset of the items of a smaller one.

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: morv-simulate --samples N --snps S --genes G --out PREFIX [options]\n"
    "Writes PREFIX.geno, PREFIX.expr and PREFIX.allele.\n"
    "  --seed K                          random seed (default 1)\n"
    "  --maf Q                           non-reference allele frequency of every SNP\n"
    "                                    (default: drawn per SNP from [0.15, 0.5])\n"
    "  --rare SNP:Q                      that frequency for one SNP\n"
    "  --mean-effect SNP:GENE:SIZE       log10 mean shifted by SIZE gene sd per\n"
    "                                    non-reference allele\n"
    "  --cov-effect SNP:GENE1:GENE2:RHO  correlation +RHO in class 0, 0 in class 1,\n"
    "                                    -RHO in class 2\n"
    "  --random-effects F[:SIZE[:RHO]]   per SNP, effects on random genes touching a\n"
    "                                    fraction F of the gene pairs (SIZE 1, RHO 0.5)\n"
    "  --lower-case F[:geno|allele|both] lower-case allele letters with probability F\n"
    "  --nonpositive F                   expression values 0 or negative with probability F\n"
    "  --separator tab|space             field separator (default tab)\n"
    "  --crlf                            CR LF line ends\n"
    "  --trailing-separator              separator after the last field of a line\n"
    "  -h, --help                        this help\n"
    "Class 0, 1, 2 = samples with 0, 1, 2 non-reference alleles at the SNP.\n"
    "SNP and gene indices count from 0; effect options may be repeated.\n";

[[noreturn]] void die(const std::string& message)
{
    std::fprintf(stderr, "Error: %s\n", message.c_str());
    std::exit(1);
}

// A command-line mistake: also point at the help.
[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "Error: %s\nTry 'morv-simulate -h'.\n", message.c_str());
    std::exit(1);
}

// ---- options ---------------------------------------------------------------

struct MeanEffect {
    long snp, gene;
    double size;
};

struct CovEffect {
    long snp, gene1, gene2;
    double rho;
};

struct RareSnp {
    long snp;
    double freq;
};

struct Options {
    long samples = -1, snps = -1, genes = -1;
    std::uint64_t seed = 1;
    std::string out;
    double maf = -1.0;  // < 0: drawn per SNP
    std::vector<RareSnp> rare;
    std::vector<MeanEffect> mean_effects;
    std::vector<CovEffect> cov_effects;
    double random_fraction = 0.0, random_size = 1.0, random_rho = 0.5;
    double lower_case = 0.0;
    bool lower_geno = true, lower_allele = true;
    double nonpositive = 0.0;
    char separator = '\t';
    bool crlf = false, trailing = false;
};

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == by)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

long parse_long(const std::string& text, const std::string& what)
{
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0)
        fail("invalid integer '" + text + "' in " + what);
    return value;
}

double parse_double(const std::string& text, const std::string& what)
{
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
        fail("invalid number '" + text + "' in " + what);
    return value;
}

std::uint64_t parse_seed(const std::string& text)
{
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0)
        fail("invalid seed '" + text + "'");
    return value;
}

double parse_fraction(const std::string& text, const std::string& what)
{
    double value = parse_double(text, what);
    if (value < 0.0 || value > 1.0)
        fail(what + " must lie between 0 and 1");
    return value;
}

std::vector<std::string> fields(const std::string& text, std::size_t min_count,
                                std::size_t max_count, const std::string& what)
{
    std::vector<std::string> parts = split(text, ':');
    if (parts.size() < min_count || parts.size() > max_count)
        fail("malformed " + what + " '" + text + "'");
    return parts;
}

enum LongOnly {
    kSamples = 1000, kSnps, kGenes, kSeed, kOut, kMaf, kRare, kMeanEffect, kCovEffect,
    kRandomEffects, kLowerCase, kNonpositive, kSeparator, kCrlf, kTrailing
};

void apply_option(Options& o, int code, const std::string& arg)
{
    switch (code) {
    case kSamples: o.samples = parse_long(arg, "--samples"); break;
    case kSnps: o.snps = parse_long(arg, "--snps"); break;
    case kGenes: o.genes = parse_long(arg, "--genes"); break;
    case kSeed: o.seed = parse_seed(arg); break;
    case kOut: o.out = arg; break;
    case kMaf: o.maf = parse_fraction(arg, "--maf"); break;
    case kRare: {
        auto f = fields(arg, 2, 2, "--rare");
        o.rare.push_back({parse_long(f[0], "--rare"), parse_fraction(f[1], "--rare")});
        break;
    }
    case kMeanEffect: {
        auto f = fields(arg, 3, 3, "--mean-effect");
        o.mean_effects.push_back({parse_long(f[0], "--mean-effect"),
                                  parse_long(f[1], "--mean-effect"),
                                  parse_double(f[2], "--mean-effect")});
        break;
    }
    case kCovEffect: {
        auto f = fields(arg, 4, 4, "--cov-effect");
        CovEffect e{parse_long(f[0], "--cov-effect"), parse_long(f[1], "--cov-effect"),
                    parse_long(f[2], "--cov-effect"), parse_double(f[3], "--cov-effect")};
        if (std::fabs(e.rho) > 0.99)
            fail("RHO of --cov-effect must lie between -0.99 and 0.99");
        if (e.gene1 == e.gene2)
            fail("--cov-effect needs two different genes");
        o.cov_effects.push_back(e);
        break;
    }
    case kRandomEffects: {
        auto f = fields(arg, 1, 3, "--random-effects");
        o.random_fraction = parse_fraction(f[0], "--random-effects");
        if (f.size() > 1)
            o.random_size = parse_double(f[1], "--random-effects");
        if (f.size() > 2) {
            o.random_rho = parse_double(f[2], "--random-effects");
            if (o.random_rho < 0.0 || o.random_rho > 0.99)
                fail("RHO of --random-effects must lie between 0 and 0.99");
        }
        break;
    }
    case kLowerCase: {
        auto f = fields(arg, 1, 2, "--lower-case");
        o.lower_case = parse_fraction(f[0], "--lower-case");
        std::string where = f.size() > 1 ? f[1] : "both";
        if (where != "geno" && where != "allele" && where != "both")
            fail("--lower-case applies to geno, allele or both, not '" + where + "'");
        o.lower_geno = where != "allele";
        o.lower_allele = where != "geno";
        break;
    }
    case kNonpositive: o.nonpositive = parse_fraction(arg, "--nonpositive"); break;
    case kSeparator:
        if (arg == "tab")
            o.separator = '\t';
        else if (arg == "space")
            o.separator = ' ';
        else
            fail("--separator must be tab or space, not '" + arg + "'");
        break;
    case kCrlf: o.crlf = true; break;
    case kTrailing: o.trailing = true; break;
    }
}

void check_index(long value, long limit, const char* what, const char* option)
{
    if (value < 0 || value >= limit)
        fail(std::string(what) + " index " + std::to_string(value) + " of " + option +
             " is out of range");
}

void validate(const Options& o)
{
    if (o.samples < 0 || o.snps < 0 || o.genes < 0 || o.out.empty())
        fail("--samples, --snps, --genes and --out are required");
    if (o.samples < 1 || o.snps < 1)
        fail("--samples and --snps must be at least 1");
    // Keeps n x G within what the tool's 32-bit counts can address.
    if (o.samples > 100000000 || o.snps > 1000000 || o.genes > 100000000 ||
        o.samples * o.genes > 2000000000L)
        fail("the requested data set is too large");
    for (const RareSnp& r : o.rare)
        check_index(r.snp, o.snps, "SNP", "--rare");
    for (const MeanEffect& e : o.mean_effects) {
        check_index(e.snp, o.snps, "SNP", "--mean-effect");
        check_index(e.gene, o.genes, "gene", "--mean-effect");
    }
    for (const CovEffect& e : o.cov_effects) {
        check_index(e.snp, o.snps, "SNP", "--cov-effect");
        check_index(e.gene1, o.genes, "gene", "--cov-effect");
        check_index(e.gene2, o.genes, "gene", "--cov-effect");
    }
}

Options parse_options(int argc, char** argv)
{
    static const option long_options[] = {
        {"samples", required_argument, nullptr, kSamples},
        {"snps", required_argument, nullptr, kSnps},
        {"genes", required_argument, nullptr, kGenes},
        {"seed", required_argument, nullptr, kSeed},
        {"out", required_argument, nullptr, kOut},
        {"maf", required_argument, nullptr, kMaf},
        {"rare", required_argument, nullptr, kRare},
        {"mean-effect", required_argument, nullptr, kMeanEffect},
        {"cov-effect", required_argument, nullptr, kCovEffect},
        {"random-effects", required_argument, nullptr, kRandomEffects},
        {"lower-case", required_argument, nullptr, kLowerCase},
        {"nonpositive", required_argument, nullptr, kNonpositive},
        {"separator", required_argument, nullptr, kSeparator},
        {"crlf", no_argument, nullptr, kCrlf},
        {"trailing-separator", no_argument, nullptr, kTrailing},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0}};
    Options o;
    opterr = 0;  // our own messages instead of getopt's
    int code;
    while ((code = getopt_long(argc, argv, ":h", long_options, nullptr)) != -1) {
        if (code == 'h') {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (code == ':')
            fail(std::string("option ") + argv[optind - 1] + " needs a value");
        if (code == '?')
            fail(std::string("unknown option ") + argv[optind - 1]);
        apply_option(o, code, optarg ? optarg : "");
    }
    if (optind < argc)
        fail(std::string("unexpected argument '") + argv[optind] + "'");
    validate(o);
    return o;
}

// ---- random numbers ----------------------------------------------------------
// Own transforms on mt19937_64: the standard distributions differ between
// standard libraries, and the files must not.

struct Rng {
    std::mt19937_64 engine;
    bool has_spare = false;
    double spare = 0.0;
};

// One independent stream per part of the data, so that an option touching one
// part leaves the others as they were.
Rng make_stream(std::uint64_t seed, std::uint64_t stream)
{
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (stream + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    Rng rng;
    rng.engine.seed(z ^ (z >> 31));
    return rng;
}

// Uniform on the open interval (0, 1).
double uniform(Rng& rng)
{
    return (static_cast<double>(rng.engine() >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

double uniform(Rng& rng, double lo, double hi)
{
    return lo + (hi - lo) * uniform(rng);
}

// 0 .. bound-1; the modulo bias is below 2^-40 for any bound used here.
std::uint64_t below(Rng& rng, std::uint64_t bound)
{
    return rng.engine() % bound;
}

// Box-Muller, both values used.
double normal(Rng& rng)
{
    if (rng.has_spare) {
        rng.has_spare = false;
        return rng.spare;
    }
    const double two_pi = 6.283185307179586;
    double radius = std::sqrt(-2.0 * std::log(uniform(rng)));
    double angle = two_pi * uniform(rng);
    rng.spare = radius * std::sin(angle);
    rng.has_spare = true;
    return radius * std::cos(angle);
}

template <typename T>
void shuffle(std::vector<T>& items, Rng& rng)
{
    for (std::size_t i = items.size(); i > 1; --i)
        std::swap(items[i - 1], items[below(rng, i)]);
}

enum Stream : std::uint64_t {
    kGenotypeStream, kGeneStream, kRandomEffectStream, kNoiseStream,
    kLowerGenoStream, kLowerAlleleStream, kNonpositiveStream
};

// ---- genotypes ---------------------------------------------------------------

struct Snp {
    char reference, other;
    std::vector<unsigned char> cls;        // class per sample: 0, 1, 2
    std::vector<unsigned char> other_first;  // heterozygote written other allele first
};

std::vector<double> allele_frequencies(const Options& o, Rng& rng)
{
    std::vector<double> freq(o.snps);
    for (double& f : freq) {
        f = uniform(rng, 0.15, 0.5);  // drawn even when overridden: keeps the stream aligned
        if (o.maf >= 0.0)
            f = o.maf;
    }
    for (const RareSnp& r : o.rare)
        freq[r.snp] = r.freq;
    return freq;
}

Snp make_snp(long samples, double q, Rng& rng)
{
    static const char letters[] = "ACGT";
    Snp snp;
    std::uint64_t ref = below(rng, 4);
    snp.reference = letters[ref];
    snp.other = letters[(ref + 1 + below(rng, 3)) % 4];
    const double n = static_cast<double>(samples);
    long none = std::lround(n * q * q);
    long one = std::min(std::lround(n * 2.0 * q * (1.0 - q)), samples - none);
    snp.cls.assign(samples, 0);
    for (long s = 0; s < none + one; ++s)
        snp.cls[s] = s < none ? 2 : 1;
    shuffle(snp.cls, rng);
    snp.other_first.resize(samples);
    for (unsigned char& b : snp.other_first)
        b = static_cast<unsigned char>(below(rng, 2));
    return snp;
}

std::vector<Snp> make_snps(const Options& o)
{
    Rng rng = make_stream(o.seed, kGenotypeStream);
    std::vector<double> freq = allele_frequencies(o, rng);
    std::vector<Snp> snps;
    snps.reserve(o.snps);
    for (long k = 0; k < o.snps; ++k)
        snps.push_back(make_snp(o.samples, freq[k], rng));
    return snps;
}

// ---- expression model ------------------------------------------------------

// A covariance effect: in class 0 of its SNP the members share one normal
// draw F (member adds loading*F), in class 2 too but flipped members add
// -loading*F, in class 1 each member draws its own.
struct Member {
    long gene;
    double loading;
    bool flip;
};

struct Factor {
    long snp;
    std::vector<Member> members;
};

struct GeneModel {
    double base = 0.0, sd = 1.0, residual = 1.0;
    std::vector<std::pair<long, double>> shifts;  // (SNP, SIZE)
    std::vector<std::pair<std::size_t, std::size_t>> memberships;  // (factor, member)
};

struct Model {
    std::vector<GeneModel> genes;
    std::vector<Factor> factors;
};

void add_random_effects(const Options& o, Model& model)
{
    if (o.random_fraction <= 0.0 || o.genes == 0)
        return;
    Rng rng = make_stream(o.seed, kRandomEffectStream);
    long chosen = std::lround(static_cast<double>(o.genes) * (1.0 - std::sqrt(1.0 - o.random_fraction)));
    if (chosen == 0)
        return;
    std::vector<long> order(o.genes);
    for (long snp = 0; snp < o.snps; ++snp) {
        for (long g = 0; g < o.genes; ++g)
            order[g] = g;
        // Partial Fisher-Yates: the first `chosen` entries are a random subset.
        for (long i = 0; i < chosen; ++i)
            std::swap(order[i], order[i + below(rng, o.genes - i)]);
        Factor factor{snp, {}};
        for (long i = 0; i < chosen; ++i) {
            long g = order[i];
            model.genes[g].shifts.emplace_back(snp, o.random_size);
            factor.members.push_back({g, std::sqrt(o.random_rho), below(rng, 2) == 1});
        }
        model.factors.push_back(std::move(factor));
    }
}

// Scales down the covariance effects of genes that took on more than the
// variance there is, so that z keeps unit variance.
void balance_loadings(Model& model)
{
    const double budget = 0.99;
    for (GeneModel& gene : model.genes) {
        double total = 0.0;
        for (auto [f, m] : gene.memberships) {
            double a = model.factors[f].members[m].loading;
            total += a * a;
        }
        double scale = total > budget ? std::sqrt(budget / total) : 1.0;
        for (auto [f, m] : gene.memberships)
            model.factors[f].members[m].loading *= scale;
        gene.residual = std::sqrt(1.0 - std::min(total, budget));
    }
}

Model make_model(const Options& o)
{
    Model model;
    model.genes.resize(o.genes);
    Rng rng = make_stream(o.seed, kGeneStream);
    for (GeneModel& gene : model.genes) {
        gene.base = uniform(rng, 1.0, 3.0);
        gene.sd = uniform(rng, 0.15, 0.35);
    }
    for (const MeanEffect& e : o.mean_effects)
        model.genes[e.gene].shifts.emplace_back(e.snp, e.size);
    for (const CovEffect& e : o.cov_effects) {
        double a = std::sqrt(std::fabs(e.rho));
        model.factors.push_back(
            {e.snp, {{e.gene1, a, false}, {e.gene2, e.rho < 0.0 ? -a : a, true}}});
    }
    add_random_effects(o, model);
    for (std::size_t f = 0; f < model.factors.size(); ++f)
        for (std::size_t m = 0; m < model.factors[f].members.size(); ++m)
            model.genes[model.factors[f].members[m].gene].memberships.emplace_back(f, m);
    balance_loadings(model);
    return model;
}

// Log10 expression of one gene in every sample. `shared` holds the factor
// draws, factor-major.
void gene_log_values(const GeneModel& gene, const Model& model, const std::vector<Snp>& snps,
                     const std::vector<double>& shared, Rng& noise, std::vector<double>& out)
{
    const std::size_t samples = out.size();
    for (std::size_t s = 0; s < samples; ++s) {
        double z = gene.residual * normal(noise);
        for (auto [f, m] : gene.memberships) {
            const Factor& factor = model.factors[f];
            const Member& member = factor.members[m];
            unsigned cls = snps[factor.snp].cls[s];
            if (cls == 1)
                z += member.loading * normal(noise);
            else
                z += member.loading * ((cls == 2 && member.flip) ? -1.0 : 1.0) *
                     shared[f * samples + s];
        }
        for (auto [snp, size] : gene.shifts)
            z += size * static_cast<double>(snps[snp].cls[s]);
        out[s] = gene.base + gene.sd * z;
    }
}

// ---- output --------------------------------------------------------------------

// Large buffered writes: the files can be hundreds of megabytes.
struct Writer {
    std::FILE* file;
    std::string path;
    std::string buffer;
};

Writer open_writer(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        die("cannot create " + path);
    return {file, path, {}};
}

void flush(Writer& w)
{
    if (!w.buffer.empty() && std::fwrite(w.buffer.data(), 1, w.buffer.size(), w.file) != w.buffer.size())
        die("cannot write " + w.path);
    w.buffer.clear();
}

void end_line(Writer& w, const Options& o)
{
    w.buffer += o.crlf ? "\r\n" : "\n";
    if (w.buffer.size() >= (1u << 20))
        flush(w);
}

void close_writer(Writer& w)
{
    flush(w);
    if (std::fclose(w.file) != 0)
        die("cannot write " + w.path);
}

char lower(char c)
{
    return static_cast<char>(c - 'A' + 'a');
}

void write_genotypes(const Options& o, const std::vector<Snp>& snps)
{
    Writer w = open_writer(o.out + ".geno");
    Rng rng = make_stream(o.seed, kLowerGenoStream);
    const bool lowering = o.lower_geno && o.lower_case > 0.0;
    for (long s = 0; s < o.samples; ++s) {
        for (long k = 0; k < o.snps; ++k) {
            const Snp& snp = snps[k];
            char a1 = snp.cls[s] == 2 ? snp.other : snp.reference;
            char a2 = snp.cls[s] == 0 ? snp.reference : snp.other;
            if (snp.cls[s] == 1 && snp.other_first[s])
                std::swap(a1, a2);
            for (char a : {a1, a2}) {
                w.buffer += (lowering && uniform(rng) < o.lower_case) ? lower(a) : a;
                w.buffer += o.separator;
            }
            if (k == o.snps - 1 && !o.trailing)
                w.buffer.pop_back();
        }
        end_line(w, o);
    }
    close_writer(w);
}

void write_alleles(const Options& o, const std::vector<Snp>& snps)
{
    Writer w = open_writer(o.out + ".allele");
    Rng rng = make_stream(o.seed, kLowerAlleleStream);
    const bool lowering = o.lower_allele && o.lower_case > 0.0;
    for (const Snp& snp : snps) {
        w.buffer += (lowering && uniform(rng) < o.lower_case) ? lower(snp.reference) : snp.reference;
        end_line(w, o);
    }
    close_writer(w);
}

void append_value(Writer& w, double log_value, Rng& rng, double nonpositive)
{
    char text[32];
    double value = std::pow(10.0, log_value);
    if (nonpositive > 0.0) {
        double u = uniform(rng);
        if (u < 0.5 * nonpositive)
            value = 0.0;
        else if (u < nonpositive)
            value = -value;
    }
    int length = std::snprintf(text, sizeof text, "%.6g", value);
    w.buffer.append(text, static_cast<std::size_t>(length));
}

void write_expression(const Options& o, const std::vector<Snp>& snps)
{
    Model model = make_model(o);
    Rng noise = make_stream(o.seed, kNoiseStream);
    Rng format = make_stream(o.seed, kNonpositiveStream);
    // Shared factor draws for every sample, whatever its class.
    std::vector<double> shared(model.factors.size() * static_cast<std::size_t>(o.samples));
    for (double& x : shared)
        x = normal(noise);
    Writer w = open_writer(o.out + ".expr");
    std::vector<double> values(o.samples);
    for (const GeneModel& gene : model.genes) {
        gene_log_values(gene, model, snps, shared, noise, values);
        for (long s = 0; s < o.samples; ++s) {
            append_value(w, values[s], format, o.nonpositive);
            if (s + 1 < o.samples || o.trailing)
                w.buffer += o.separator;
        }
        end_line(w, o);
    }
    close_writer(w);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options = parse_options(argc, argv);
    std::vector<Snp> snps = make_snps(options);
    write_genotypes(options, snps);
    write_alleles(options, snps);
    write_expression(options, snps);
    return 0;
}
