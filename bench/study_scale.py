#!/usr/bin/env python3
"""Study-scale benchmark: a slice of real data (Debian's qtltools-example,
GEUVADIS chr22: 358 samples, the 378 genes with positive values) at threshold
0.05, run four ways in one go:

  1 thread        morv
  2 threads       morv --threads 2
  workflow        snakemake with SHARDS shards of morv --snps, merged
  omit+bgzip      morv --threads 2 --omit-pruned --bgzip

It checks that the 2-thread and workflow files equal the 1-thread file byte
for byte and that the omit+bgzip file decompresses to its lines of flag 1
and 2, and prints wall time, pairs per second, peak memory and output size,
then extrapolates to the whole chromosome.

    bench/study_scale.py [--build build] [--out bench/out/study]
                         [--region chr22:17000000-17500000] [--shards 8]

Needs the packages qtltools-example and snakemake (installed with
tools/install-deps.sh when run as root). Takes about 15 minutes on 2 cores.
"""
import argparse
import gzip
import os
import subprocess
import sys

from run_benchmarks import run_measured, same_file

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = "/usr/share/doc/qtltools/examples/examples.tar.xz"


def same_without_flag0(full, packed):
    """The full file without flag-0 lines against the decompressed file."""
    with open(full, "rb") as fa, gzip.open(packed, "rb") as fb:
        for n, line in enumerate(fa):
            if n >= 3 and line.split(b"\t", 4)[3] == b"0":
                continue
            if fb.readline() != line:
                return False
        return fb.readline() == b""


def count_lines(path):
    with open(path, "rb") as f:
        return sum(1 for _ in f)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default=os.path.join(ROOT, "bench", "out", "study"))
    ap.add_argument("--region", default="chr22:17000000-17500000")
    ap.add_argument("--shards", type=int, default=8)
    ap.add_argument("--threshold", default="0.05")
    args = ap.parse_args()

    subprocess.run([os.path.join(ROOT, "tools", "install-deps.sh"), "qtltools-example", "snakemake"], check=True)
    os.makedirs(args.out, exist_ok=True)
    out = lambda name: os.path.join(args.out, name)
    subprocess.run(["tar", "-xf", EXAMPLES, "-C", args.out], check=True)
    prepared = out("prepared")
    subprocess.run([os.path.join(args.build, "morv-prepare"), "--vcf", out("genotypes.chr22.vcf.gz"),
                    "--expression", out("genes.50percent.chr22.bed.gz"), "--out", prepared,
                    "--region", args.region, "--min-class", "3"], check=True, stdout=subprocess.DEVNULL)
    snps = count_lines(os.path.join(prepared, "allele.txt"))
    genes = count_lines(os.path.join(prepared, "expression.txt"))
    pairs = snps * genes * (genes - 1) // 2
    print("data: %s, %d SNPs x %d genes = %d pairs, threshold %s" % (args.region, snps, genes, pairs, args.threshold))
    morv = os.path.join(args.build, "morv")
    files = ["-g", os.path.join(prepared, "genotype.txt"), "-e", os.path.join(prepared, "expression.txt"),
             "-a", os.path.join(prepared, "allele.txt")]
    stdin = args.threshold + "\n"

    runs = []
    w, m = run_measured([morv] + files + ["-o", out("one.txt")], stdin)
    runs.append(("1 thread", w, m, out("one.txt")))
    w, m = run_measured([morv, "--threads", "2"] + files + ["-o", out("two.txt")], stdin)
    runs.append(("--threads 2", w, m, out("two.txt")))
    if not same_file(out("one.txt"), out("two.txt")):
        sys.exit("--threads 2 wrote a different file")
    flow = out("workflow")
    subprocess.run(["rm", "-rf", flow], check=True)
    w, m = run_measured(["snakemake", "-s", os.path.join(ROOT, "workflow", "Snakefile"), "--cores", "2", "--quiet",
                     "--config", "genotype=" + files[1], "expression=" + files[3], "allele=" + files[5],
                     "threshold=" + args.threshold, "shards=%d" % args.shards, "threads=1", "out=" + flow,
                     "bin=" + args.build], quiet=True)
    runs.append(("workflow, %d shards" % args.shards, w, m, os.path.join(flow, "results.txt")))
    if not same_file(out("one.txt"), os.path.join(flow, "results.txt")):
        sys.exit("the workflow's merged file differs")
    w, m = run_measured([morv, "--threads", "2", "--omit-pruned", "--bgzip"] + files + ["-o", out("small.txt.gz")], stdin)
    runs.append(("--threads 2 --omit-pruned --bgzip", w, m, out("small.txt.gz")))
    if not same_without_flag0(out("one.txt"), out("small.txt.gz")):
        sys.exit("the --omit-pruned --bgzip file does not hold the full file's lines of flag 1 and 2")

    base = runs[0][1]
    print("%-34s %9s %12s %9s %14s %9s" % ("run", "wall s", "pairs/s", "peak MiB", "output bytes", "speed-up"))
    for name, wall, peak, path in runs:
        print("%-34s %9.1f %12.0f %9.1f %14d %8.2fx" % (name, wall, pairs / wall, peak, os.path.getsize(path), base / wall))
    print("all files identical to the 1-thread file (the last one after decompressing and dropping flag 0)")

    # The whole chromosome at these rates: every SNP morv-prepare keeps.
    subprocess.run([os.path.join(args.build, "morv-prepare"), "--vcf", out("genotypes.chr22.vcf.gz"),
                    "--expression", out("genes.50percent.chr22.bed.gz"), "--out", out("whole"),
                    "--min-class", "3"], check=True, stdout=subprocess.DEVNULL)
    whole_snps = count_lines(os.path.join(out("whole"), "allele.txt"))
    whole = whole_snps * genes * (genes - 1) // 2
    rate1, rate2 = pairs / runs[0][1], pairs / runs[1][1]
    plain_per_pair = os.path.getsize(out("one.txt")) / pairs
    small_per_pair = os.path.getsize(out("small.txt.gz")) / pairs
    print("whole chromosome (%d SNPs kept, %d pairs):" % (whole_snps, whole))
    print("  1 thread %.1f h, 2 threads %.1f h, 64 cores at 2-thread rate per core %.2f h" % (
        whole / rate1 / 3600, whole / rate2 / 3600, whole / (rate2 / 2 * 64) / 3600))
    print("  plain result file %.0f GB, --omit-pruned --bgzip %.1f GB" % (
        plain_per_pair * whole / 1e9, small_per_pair * whole / 1e9))


if __name__ == "__main__":
    main()
