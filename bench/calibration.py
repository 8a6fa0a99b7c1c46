#!/usr/bin/env python3
"""Calibration of the MC test on real data under the null: Debian's
qtltools-example (GEUVADIS chr22, 358 samples), prepared several ways, with
the genotype file's sample lines permuted so that no genotype effect is left
while the genes' correlations stay as they are.

For each way of preparing it runs morv at threshold 0 (the MC test alone)
on SNPs taken evenly along the chromosome (spread out, so that they are not
all in linkage with one another) and prints morv-qq's lambda MC and how many
p-values fall below 1e-5 against the number expected:

  log       morv-prepare's default: the file's values, log10 read by morv
  int       --transform int
  int+cov   --covariates (the first COVARIATES rows of the example's
            covariate file: 3 genotype and 10 expression PCs by default)
  log+cov   the same residuals without the rank transform (--ways to run it)

    bench/calibration.py [--build build] [--out bench/out/calibration]
                         [--snps 100] [--seed 1] [--covariates 13] [--real]
                         [--ways log,int,int+cov,log+cov]

--real also runs the unpermuted data. Needs qtltools-example (installed
with tools/install-deps.sh when run as root). About 3 minutes per way on
2 cores.

    bench/calibration.py --fdr K [--threshold T] [--q 0.05] [--fdr-seed S] ...

runs each scan at threshold T with K permutation scans (morv --histogram
--permutations K --seed S, the result lines left out with --omit-pruned)
and prints morv-fdr's discoveries at q instead: on the permuted data there
should be next to none. The permutation that makes the null data (--seed)
and the permutations of the FDR (--fdr-seed) are drawn independently.
"""
import argparse
import gzip
import os
import random
import re
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = "/usr/share/doc/qtltools/examples/examples.tar.xz"


def thin_and_permute(prepared, out, snps, seed):
    """Every k-th SNP of the prepared genotype and allele files, the sample
    lines in an order drawn from `seed` (seed None: as they are)."""
    with open(os.path.join(prepared, "allele.txt")) as f:
        alleles = f.read().splitlines()
    step = max(1, len(alleles) // snps)
    keep = list(range(0, len(alleles), step))[:snps]
    with open(os.path.join(prepared, "genotype.txt")) as f:
        rows = [line.rstrip("\n").rstrip("\t").split("\t") for line in f]
    if seed is not None:
        random.Random(seed).shuffle(rows)
    with open(out + ".geno", "w") as f:
        for r in rows:
            f.write("".join(r[2 * k] + "\t" + r[2 * k + 1] + "\t" for k in keep) + "\n")
    with open(out + ".allele", "w") as f:
        f.write("".join(alleles[k] + "\n" for k in keep))


def scan(build, prepared, base, out_png):
    result = base + ".txt"
    subprocess.run([os.path.join(build, "morv"), "--threads", "2", "-g", base + ".geno", "-e",
                    os.path.join(prepared, "expression.txt"), "-a", base + ".allele", "-o", result],
                   input=b"0\n", check=True, stdout=subprocess.DEVNULL)
    qq = subprocess.run([os.path.join(build, "morv-qq"), "--results", result, "--out", out_png],
                        check=True, capture_output=True, text=True).stdout
    lam = re.search(r"lambda MC: ([0-9.]+) \((\d+) tested", qq)
    tested = int(lam.group(2))
    below = 0
    with open(result, "rb") as f:
        for n, line in enumerate(f):
            if n >= 3 and float(line.split(b"\t", 5)[4]) < -5:
                below += 1
    os.remove(result)
    return float(lam.group(1)), tested, below


def fdr_scan(build, prepared, base, args):
    """morv with K permutation scans; morv-fdr's table rows at q."""
    result, histogram = base + ".txt", base + ".hist"
    subprocess.run([os.path.join(build, "morv"), "--threads", "2", "--omit-pruned", "--histogram", histogram,
                    "--permutations", str(args.fdr), "--seed", str(args.fdr_seed), "-g", base + ".geno", "-e",
                    os.path.join(prepared, "expression.txt"), "-a", base + ".allele", "-o", result],
                   input=(args.threshold + "\n").encode(), check=True, stdout=subprocess.DEVNULL)
    os.remove(result)
    table = subprocess.run([os.path.join(build, "morv-fdr"), "--histogram", histogram, "--q", str(args.q)],
                           check=True, capture_output=True, text=True).stdout
    return [line.split("\t") for line in table.splitlines()[1:]]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default=os.path.join(ROOT, "bench", "out", "calibration"))
    ap.add_argument("--snps", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--covariates", type=int, default=13)
    ap.add_argument("--ways", default="log,int,int+cov")
    ap.add_argument("--real", action="store_true")
    ap.add_argument("--fdr", type=int, default=0, help="permutation scans per run (0: lambda instead)")
    ap.add_argument("--fdr-seed", type=int, default=20261207)
    ap.add_argument("--threshold", default="1e-3", help="morv's threshold with --fdr")
    ap.add_argument("--q", type=float, default=0.05)
    args = ap.parse_args()

    subprocess.run([os.path.join(ROOT, "tools", "install-deps.sh"), "qtltools-example"], check=True)
    os.makedirs(args.out, exist_ok=True)
    study = os.path.join(args.out, "study")
    if not os.path.exists(os.path.join(study, "genotypes.chr22.vcf.gz")):
        os.makedirs(study, exist_ok=True)
        subprocess.run(["tar", "-xf", EXAMPLES, "-C", study], check=True)
    covariates = os.path.join(args.out, "covariates.txt")
    with gzip.open(os.path.join(study, "genes.covariates.pc50.txt.gz"), "rt") as f, open(covariates, "w") as out:
        out.writelines(f.readlines()[: args.covariates + 1])
    options = {"log": [], "int": ["--transform", "int"], "int+cov": ["--covariates", covariates],
               "log+cov": ["--covariates", covariates, "--transform", "log"]}

    if args.fdr:
        print("way\tdata\tgenes\tstatistic\tq\tcutoff_log10p\tdiscoveries\tmethod")
    else:
        print("way\tdata\tgenes\tlambda_mc\ttested\tp<1e-5\texpected\tratio")
    for way in args.ways.split(","):
        prepared = os.path.join(args.out, "prepared-" + way.replace("+", "-"))
        summary = subprocess.run([os.path.join(args.build, "morv-prepare"), "--vcf",
                                  os.path.join(study, "genotypes.chr22.vcf.gz"), "--expression",
                                  os.path.join(study, "genes.50percent.chr22.bed.gz"), "--out", prepared]
                                 + options[way], check=True, capture_output=True, text=True).stdout
        genes = re.search(r"genes kept: (\d+)", summary).group(1)
        for data, seed in [("null", args.seed)] + ([("real", None)] if args.real else []):
            base = os.path.join(args.out, way.replace("+", "-") + "." + data)
            thin_and_permute(prepared, base, args.snps, seed)
            if args.fdr:
                for row in fdr_scan(args.build, prepared, base, args):
                    print("\t".join([way, data, genes] + row), flush=True)
                continue
            lam, tested, below = scan(args.build, prepared, base, base + ".png")
            expected = tested * 1e-5
            print(f"{way}\t{data}\t{genes}\t{lam:.4f}\t{tested}\t{below}\t{expected:.1f}\t{below / expected:.1f}",
                  flush=True)


if __name__ == "__main__":
    main()
