#pragma once

// Holding a vectorised batch of a C library function (exp, log) to the
// library itself, bit for bit, on every instruction-set path the CPU has and
// through the dispatching entry point.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tests/support.hpp"

namespace batchcheck {

// The first disagreement and how many there were.
struct Mismatches {
    std::size_t count = 0;
    double first_x = 0, first_got = 0, first_want = 0;

    void record(double x, double got, double want)
    {
        if (count++ == 0) {
            first_x = x;
            first_got = got;
            first_want = want;
        }
    }
};

inline void compare(double (*library)(double), const std::vector<double>& x,
                    const std::vector<double>& y, Mismatches& m)
{
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double want = library(x[i]);
        if (testsupport::bits_of(y[i]) != testsupport::bits_of(want))
            m.record(x[i], y[i], want);
    }
}

// One way to evaluate a batch: the dispatcher or one instruction-set path.
struct Runner {
    std::string name;
    bool available;
    bool vector_path;  // an instruction-set path other than the scalar one
    std::function<void(const double*, double*, std::size_t)> run;
};

// The dispatcher, then each path of an implementation whose paths are the
// enumerators avx512, avx2 and scalar of Path.
template <class Path, class Available, class ByPath, class Dispatch>
std::vector<Runner> runners(Available available, ByPath by_path, Dispatch dispatch)
{
    auto path = [by_path](Path p) {
        return [by_path, p](const double* x, double* y, std::size_t n) { by_path(p, x, y, n); };
    };
    return {{"dispatch", true, false, dispatch},
            {"avx512", available(Path::avx512), true, path(Path::avx512)},
            {"avx2", available(Path::avx2), true, path(Path::avx2)},
            {"scalar", true, false, path(Path::scalar)}};
}

// Every available runner on x, out of place (in_place false) or in place.
inline void expect_identical(const std::vector<Runner>& all, double (*library)(double),
                             const char* function, const std::vector<double>& x,
                             const std::string& what, bool in_place = false)
{
    for (const Runner& r : all) {
        if (!r.available)
            continue;
        std::vector<double> y(x.size());
        if (in_place) {
            y = x;
            r.run(y.data(), y.data(), y.size());
        } else {
            r.run(x.data(), y.data(), x.size());
        }
        Mismatches m;
        compare(library, x, y, m);
        EXPECT_EQ(m.count, 0u) << what << " via " << r.name << ": " << function << "("
                               << std::hexfloat << m.first_x << ") gave " << m.first_got
                               << ", library " << m.first_want;
    }
}

// v and its `ulps` neighbours on either side.
inline void push_neighbours(std::vector<double>& x, double v, int ulps)
{
    double up = v, down = v;
    x.push_back(v);
    for (int i = 0; i < ulps; ++i) {
        up = std::nextafter(up, INFINITY);
        down = std::nextafter(down, -INFINITY);
        x.push_back(up);
        x.push_back(down);
    }
}

}  // namespace batchcheck
