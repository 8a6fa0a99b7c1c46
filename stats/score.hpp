#pragma once

// First and second derivatives of the logit log-likelihood with respect to
// beta, at the point whose class probabilities Pi the caller just computed.

#include <cstddef>

// g = (X'(y0 - pi0), X'(y1 - pi1)); every row of X enters the sums.
template <class MX, class MY, class MP, class V, class P>
void get_gradient(MX& X, MY& Y, MP& Pi, V& g, P& p) {
    const std::size_t rows = X.size1();
    const std::size_t cols = p;
    const double* x = X.data().begin();
    const auto* y = Y.data().begin();
    const std::size_t ycols = Y.size2();
    const double* pi = Pi.data().begin();
    const std::size_t pistride = Pi.size2();
    double* g0 = g.data().begin();
    double* g1 = g0 + cols;
    for (std::size_t j = 0; j < cols; ++j) {
        g0[j] = 0.0;
        g1[j] = 0.0;
    }
    // Rows outer: each entry still sums its terms from 0.0 in row order.
    for (std::size_t i = 0; i < rows; ++i) {
        const double d0 = static_cast<double>(y[i * ycols]) - pi[i * pistride];
        const double d1 = static_cast<double>(y[i * ycols + 1]) - pi[i * pistride + 1];
        const double* xi = x + i * cols;
        for (std::size_t j = 0; j < cols; ++j) {
            g0[j] += xi[j] * d0;
            g1[j] += xi[j] * d1;
        }
    }
}

// H (2p x 2p) from rows 0..n-1: H00 = sum (pi0 - 1) pi0 xx', H01 = sum pi0 pi1 xx',
// H11 = sum (pi1 - 1) pi1 xx', H10 = H01'. Y is not read.
template <class MX, class MY, class MP, class MH, class Count, class P>
void get_hessian(MX& X, MY& /*Y*/, MP& Pi, MH& H, Count& n, P& p) {
    const std::size_t rows = static_cast<std::size_t>(n);
    const std::size_t cols = p;
    const std::size_t q = 2 * cols;
    const double* x = X.data().begin();
    const double* pi = Pi.data().begin();
    const std::size_t pistride = Pi.size2();
    double* h = H.data().begin();
    for (std::size_t e = 0; e < q * q; ++e) {
        h[e] = 0.0;
    }
    // All three blocks are symmetric term by term (x_j x_l == x_l x_j exactly),
    // so only the upper triangles are accumulated and mirrored afterwards.
    for (std::size_t i = 0; i < rows; ++i) {
        const double p0 = pi[i * pistride];
        const double p1 = pi[i * pistride + 1];
        const double a = (p0 - 1.0) * p0;
        const double b = p0 * p1;
        const double c = (p1 - 1.0) * p1;
        const double* xi = x + i * cols;
        for (std::size_t j = 0; j < cols; ++j) {
            double* h00 = h + j * q;
            double* h01 = h + j * q + cols;
            double* h11 = h + (cols + j) * q + cols;
            for (std::size_t l = j; l < cols; ++l) {
                const double m = xi[j] * xi[l];
                h00[l] += a * m;
                h01[l] += b * m;
                h11[l] += c * m;
            }
        }
    }
    for (std::size_t j = 0; j < cols; ++j) {
        for (std::size_t l = 0; l < j; ++l) {
            h[j * q + l] = h[l * q + j];
            h[j * q + cols + l] = h[l * q + cols + j];
            h[(cols + j) * q + cols + l] = h[(cols + l) * q + cols + j];
        }
    }
    for (std::size_t j = 0; j < cols; ++j) {
        for (std::size_t l = 0; l < cols; ++l) {
            h[(cols + j) * q + l] = h[l * q + cols + j];
        }
    }
}
