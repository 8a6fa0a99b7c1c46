#pragma once

// One gene pair of 500 samples for the per-pair benchmarks: log-expression
// values around 2 in three populated genotype classes whose probabilities
// follow a logit model with an interaction term, so the fits of the
// interaction test need several Newton steps. Also sets the global n.

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include <boost/numeric/ublas/matrix.hpp>

#include "io/globals.hpp"

struct LogitPair {
    static constexpr std::size_t samples = 500;
    boost::numeric::ublas::matrix<double> X{samples, 2};
    boost::numeric::ublas::matrix<unsigned> Y{samples, 2};
    boost::numeric::ublas::matrix<double> moments{2, 2, 0.0};
    // The same data as the fast engine takes it.
    std::vector<double> x1, x2;
    std::vector<unsigned char> cls;

    LogitPair()
    {
        std::mt19937_64 rng(2024);
        std::normal_distribution<double> normal(0.0, 1.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (std::size_t i = 0; i < samples; ++i) {
            const double a = normal(rng);
            const double b = normal(rng);
            const double e0 = std::exp(0.2 + 0.9 * a - 0.6 * b + 0.8 * a * b);
            const double e1 = std::exp(-0.1 - 0.5 * a + 0.7 * b - 0.6 * a * b);
            const double u = unit(rng) * (1.0 + e0 + e1);
            const unsigned char k = u < e0 ? 0 : (u < e0 + e1 ? 1 : 2);
            X(i, 0) = 2.0 + 0.3 * a;
            X(i, 1) = 1.5 + 0.3 * b;
            Y(i, 0) = k == 0;
            Y(i, 1) = k == 1;
            x1.push_back(X(i, 0));
            x2.push_back(X(i, 1));
            cls.push_back(k);
        }
        for (std::size_t g = 0; g < 2; ++g) {
            double sum = 0.0;
            double squares = 0.0;
            for (std::size_t i = 0; i < samples; ++i) {
                sum += X(i, g);
                squares += X(i, g) * X(i, g);
            }
            moments(g, 0) = sum / samples;
            moments(g, 1) = squares / samples;
        }
        n = static_cast<int>(samples);
    }
};
