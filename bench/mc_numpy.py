#!/usr/bin/env python3
"""The MC-only screen (threshold 0) as a savvy user would write it in numpy:
log10 of the expression table once; per SNP the class sums and cross-product
matrices of all genes by BLAS products, the 2x2 determinants, the statistic
and the 10-df chi-squared tail in closed form for every pair at once; the
result text built in bulk. It trusts its input (no checks, no messages).
Its numbers may differ from morv's in the last printed digit: numpy's log and
BLAS summation order differ from the C library's and from sample order.

    /usr/bin/python3 bench/mc_numpy.py -g GENOTYPE -e EXPRESSION -a ALLELE -o RESULT
"""
import argparse

import numpy as np


def read_inputs(geno_path, expr_path, allele_path):
    with open(geno_path, "rb") as f:
        rows = [line.rstrip(b"\r\n") for line in f if line.strip()]
    snps = (len(rows[0]) + 1) // 4
    letters = np.array([np.frombuffer(r.upper().ljust(4 * snps), dtype="S1") for r in rows])
    first, second = letters[:, 0::4][:, :snps], letters[:, 2::4][:, :snps]
    with open(allele_path, "rb") as f:
        ref = np.array([line[:1].upper() for line in f][:snps], dtype="S1")
    classes = (first != ref).astype(np.int8) + (second != ref)  # 0, 1 or 2 per sample and SNP
    with open(expr_path) as f:
        expr = np.array([[float(v) for v in line.split()] for line in f if line.strip()])
    return classes, np.log10(expr.T)  # samples x genes


def log_dets(x, mask):
    """ln of the 2x2 covariance determinant of every gene pair over the masked samples."""
    c = mask.sum()
    xs = x[mask]
    mean = xs.sum(axis=0) / c
    var = (xs * xs).sum(axis=0) / c - mean * mean
    cov = xs.T @ xs / c - np.outer(mean, mean)
    return np.log(np.outer(var, var) - cov * cov), c


def main():
    np.seterr(all="ignore")  # empty and singular classes are the statistic's own cases
    ap = argparse.ArgumentParser()
    for opt in "geao":
        ap.add_argument("-" + opt, required=True)
    a = ap.parse_args()
    classes, x = read_inputs(a.g, a.e, a.a)
    genes = x.shape[1]
    iu = np.triu_indices(genes, 1)
    whole, n = log_dets(x, np.ones(x.shape[0], dtype=bool))
    with open(a.o, "w") as out:
        out.write("Results of MORV:\nthreshold = 0.000000\n")
        out.write("SNP \t  Gene1 \t Gene2 \t flag \t p-value(MC) \t likelihood(LDA) \t p-value(IT)\n")
        for snp in range(classes.shape[1]):
            t = n * whole
            for k in range(3):
                ld, c = log_dets(x, classes[:, snp] == k)
                t = t - ld * c
            t = t[iu]
            h = t / 2
            p = np.exp(-h) * (1 + h * (1 + h * (1 / 2 + h * (1 / 6 + h / 24))))
            p = np.where(t > 9999.9, 2.0, np.where(t > 0, p, 1.0))
            lp = np.log10(p)
            lines = ["%d\t%d\t%d\t0\t%f\t1.0\t1.0\n" % (snp, g1, g2, v) for g1, g2, v in zip(iu[0], iu[1], lp)]
            out.write("".join(lines))


if __name__ == "__main__":
    main()
