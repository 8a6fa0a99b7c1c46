#include "report/qq.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/math/distributions/chi_squared.hpp>

#include "report/result_reader.hpp"

namespace {

constexpr double kFineEnd = 4.0, kFineWidth = 2e-6;       // p down to 1e-4
constexpr double kCoarseEnd = 400.0, kCoarseWidth = 1e-3;  // below every double
constexpr std::size_t kFine = 2000000, kCoarse = 396000;
constexpr std::size_t kZeroBin = kFine + kCoarse;

std::size_t bin_of(double x)
{
    if (x < kFineEnd)
        return std::min(static_cast<std::size_t>(x / kFineWidth), kFine - 1);
    if (x < kCoarseEnd)
        return kFine + std::min(static_cast<std::size_t>((x - kFineEnd) / kCoarseWidth), kCoarse - 1);
    return kZeroBin;
}

double lower_edge(const PSeries& s, std::size_t b)
{
    if (s.per_unit)
        return static_cast<double>(b) / s.per_unit;
    return b < kFine ? b * kFineWidth : kFineEnd + (b - kFine) * kCoarseWidth;
}

double upper_edge(const PSeries& s, std::size_t b) { return lower_edge(s, b + 1); }

std::size_t zero_bin(const PSeries& s) { return s.bins.size() - 1; }

// -log10 p of the p-value of rank r (1 = smallest p), assuming the values of
// its bin spread evenly across it in -log10 p: the j-th of a bin's c values
// from its top sits j - 1/2 c-ths of the bin's width below its upper edge.
// So the median of a histogram's 0.01-wide bins is interpolated within its bin.
double x_of_rank(const PSeries& s, std::uint64_t r)
{
    const std::size_t zero = zero_bin(s);
    std::uint64_t above = 0;
    for (std::size_t b = zero + 1; b-- > 0;) {
        const std::uint64_t c = s.bins[b];
        if (r <= above + c) {
            if (b == zero)
                return std::numeric_limits<double>::infinity();
            const double j = static_cast<double>(r - above) - 0.5;
            return upper_edge(s, b) - j / static_cast<double>(c) * (upper_edge(s, b) - lower_edge(s, b));
        }
        above += c;
    }
    return 0.0;
}

}  // namespace

PSeries make_series()
{
    PSeries s;
    s.bins.assign(kZeroBin + 1, 0);
    return s;
}

PSeries series_of(const StatCounts& c)
{
    PSeries s;
    s.bins = c.bins;
    s.per_unit = kBinsPerUnit;
    for (std::uint64_t v : c.bins)
        s.tested += v;
    s.left_out = c.nan + c.untested;
    return s;
}

void add_log10_p(PSeries& series, double log10_p)
{
    if (!(log10_p < 0) && !(log10_p == 0 && std::signbit(log10_p))) {
        ++series.left_out;  // p of 1 or 2, or nan
        return;
    }
    ++series.bins[bin_of(-log10_p)];
    ++series.tested;
}

double median_p(const PSeries& series)
{
    const std::uint64_t n = series.tested;
    if (n % 2)
        return std::pow(10.0, -x_of_rank(series, (n + 1) / 2));
    return 0.5 * (std::pow(10.0, -x_of_rank(series, n / 2)) + std::pow(10.0, -x_of_rank(series, n / 2 + 1)));
}

double lambda_of_median_p(double p)
{
    const boost::math::chi_squared_distribution<double> chi2(1.0);
    if (p <= 0)
        return std::numeric_limits<double>::infinity();
    return boost::math::quantile(boost::math::complement(chi2, p)) / boost::math::median(chi2);
}

double lambda_of(const PSeries& series)
{
    if (series.tested == 0)
        return std::numeric_limits<double>::quiet_NaN();
    return lambda_of_median_p(median_p(series));
}

std::vector<QQPoint> qq_points(const PSeries& series, std::size_t max_points)
{
    std::vector<QQPoint> points;
    const double n = static_cast<double>(series.tested);
    if (series.tested == 0)
        return points;
    const std::size_t zero = zero_bin(series);
    std::size_t top = zero;  // the highest non-empty finite bin: where p = 0 is drawn
    for (std::size_t b = 0; b < zero; ++b)
        if (series.bins[b])
            top = b;
    const double top_x = top < zero ? 0.5 * (lower_edge(series, top) + upper_edge(series, top)) : std::log10(2 * n);
    const double step = std::max(std::log10(2 * n), top_x) / static_cast<double>(max_points);
    std::uint64_t above = 0;
    for (std::size_t b = zero + 1; b-- > 0;) {
        const std::uint64_t c = series.bins[b];
        if (c == 0)
            continue;
        const double middle = static_cast<double>(above) + (static_cast<double>(c) + 1) / 2;
        const QQPoint p{-std::log10((middle - 0.5) / n),
                        b == zero ? top_x : 0.5 * (lower_edge(series, b) + upper_edge(series, b))};
        above += c;
        const bool last = above == series.tested;
        if (points.empty() || last || std::abs(p.expected - points.back().expected) >= step ||
            std::abs(p.observed - points.back().observed) >= step)
            points.push_back(p);
    }
    return points;
}

QQSeries read_qq_series(const std::string& results, bool partial)
{
    QQSeries q;
    q.mc = make_series();
    q.it = make_series();
    ResultReader reader(results, partial);
    q.threshold_line = reader.threshold_line();
    ResultRecord r;
    while (reader.next(r)) {
        ++q.lines;
        q.pruned_by_mc += r.flag == 0;
        add_log10_p(q.mc, r.log10_mc);
        if (r.flag == 1)
            add_log10_p(q.it, r.log10_it);
    }
    return q;
}
