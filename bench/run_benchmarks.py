#!/usr/bin/env python3
"""Whole-run benchmarks of morv against the reference scan and the numpy
competitor, all measured in one run on this machine.

For each data set (made with morv-simulate) it runs morv and morv-reference,
checks that their result files are identical byte for byte, and prints wall
time, pairs per second, peak memory and the speed-up. At threshold 0 it also
runs the vectorised numpy MC scan (single BLAS thread, closed-form tail).

    bench/run_benchmarks.py [--build build] [--out bench/out] [--repeat 5]
                            [--reference-repeat 1] [--no-reference] [--reference-at-zero] [--no-peer]
                            [--only NAME] [--baseline OTHER_BUILD] [--threads N]
                            [--isa LEVEL[,LEVEL...]] [--data NAME:OPTIONS:THRESHOLDS]

--baseline runs OTHER_BUILD/morv (an earlier version, say) taking turns with
this build's morv, checks that it writes the same bytes, and prints its time
as a ratio to morv's. --threads N (default 2; 1 to skip) also runs morv on N
threads, taking turns with the single-thread runs, checks that it writes the
same bytes, and prints the speed-up over one thread. --isa runs this build's
morv at each listed instruction-set level (MORV_ISA; the CPU's best by
default), taking turns, each checked byte for byte and timed against the
same reference runs; the threads, baseline and numpy figures are taken at
the first level. --data adds a data set of simulator options, e.g.
"real128:--samples 128 --genes 1500 --snps 1:0,1e-4".

Single-thread runs are pinned to the cores in turn (run i to core i mod
cores). The cores of a virtual machine need not be equally fast: here one
took 1.5 s for what the other did in 0.9 s, depending on its neighbours on
the host, so a single-thread time depends on where the run landed. The
speed-up is therefore taken over one thread on a core of the average speed:
the harmonic mean of each core's median, the time at the mean of the cores'
rates, against which perfect scaling on N threads is exactly N. The line
shows each core's median.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PEER = os.path.join(ROOT, "bench", "mc_numpy.py")

# name, simulator options, thresholds to run at
DATASETS = [
    ("screen", ["--samples", "500", "--genes", "200", "--snps", "1000", "--seed", "11"], ["1e-4", "0"]),
    ("loose", ["--samples", "500", "--genes", "100", "--snps", "200", "--seed", "12",
               "--random-effects", "0.01", "--maf", "0.4"], ["0.05"]),
    ("wide", ["--samples", "200", "--genes", "2000", "--snps", "2", "--seed", "13"], ["1e-4", "0"]),
]


def run_measured(argv, stdin_text=None, env=None, quiet=False, cpu=None):
    """Runs argv with wait4 to get the peak memory of it and the children it
    waited for; quiet also silences standard error; cpu pins it to that core.

    The file after -o is removed before the clock starts: overwriting a file
    of hundreds of megabytes makes the run wait while the kernel finishes
    writing back and frees the pages of the previous run's file, a cost that
    depends on what ran before, not on the program timed."""
    if "-o" in argv[:-1]:
        old = argv[argv.index("-o") + 1]
        if os.path.isfile(old):
            os.remove(old)
    start = time.perf_counter()
    rfd, wfd = os.pipe()
    pid = os.fork()
    if pid == 0:
        if cpu is not None:
            os.sched_setaffinity(0, {cpu})
        os.dup2(rfd, 0)
        os.close(wfd)
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        if quiet:
            os.dup2(devnull, 2)
        if env is not None:
            os.execve(argv[0], argv, env)
        os.execvp(argv[0], argv)
    os.close(rfd)
    if stdin_text:
        os.write(wfd, stdin_text.encode())
    os.close(wfd)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("command failed: " + " ".join(argv))
    return wall, usage.ru_maxrss / 1024.0


def one_core_time(by_core):
    """One thread's time on a core of the cores' mean speed (see above)."""
    return len(by_core) / sum(1.0 / statistics.median(w) for w in by_core.values())


def pairs_of(prefix):
    with open(prefix + ".expr") as f:
        genes = sum(1 for _ in f)
    with open(prefix + ".allele") as f:
        snps = sum(1 for _ in f)
    return snps * genes * (genes - 1) // 2


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def differing_lines(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return sum(1 for x, y in zip(fa, fb) if x != y)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--out", default=os.path.join(ROOT, "bench", "out"))
    ap.add_argument("--repeat", type=int, default=5, help="runs of morv and the peer (median)")
    ap.add_argument("--reference-repeat", type=int, default=1,
                    help="runs of the reference, taking turns with morv's first runs (median)")
    ap.add_argument("--no-reference", action="store_true")
    ap.add_argument("--reference-at-zero", action="store_true", help="also run the reference at threshold 0")
    ap.add_argument("--no-peer", action="store_true")
    ap.add_argument("--only", help="run only this data set")
    ap.add_argument("--baseline", help="a build folder whose morv to time against this one")
    ap.add_argument("--threads", type=int, default=2, help="also run morv on this many threads (1: skip)")
    ap.add_argument("--isa", help="the levels this build's morv runs at, comma-separated (MORV_ISA)")
    ap.add_argument("--data", action="append", default=[], help="NAME:SIMULATOR OPTIONS:THRESHOLDS")
    args = ap.parse_args()

    if not args.no_peer:
        subprocess.run([os.path.join(ROOT, "tools", "install-deps.sh"), "python3-numpy", "python3-scipy",
                        "libopenblas0-pthread"], check=True)
    os.makedirs(args.out, exist_ok=True)
    cores = sorted(os.sched_getaffinity(0))
    morv = os.path.join(args.build, "morv")
    ref = os.path.join(args.build, "morv-reference")
    sim = os.path.join(args.build, "morv-simulate")
    peer_env = {k: v for k, v in os.environ.items() if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")}
    peer_env["OPENBLAS_NUM_THREADS"] = "1"
    peer_env["OMP_NUM_THREADS"] = "1"
    levels = args.isa.split(",") if args.isa else [None]
    envs = []
    for level in levels:
        env = dict(os.environ)
        env.pop("MORV_ISA", None)
        if level:
            env["MORV_ISA"] = level
        envs.append(env)
    morv_env = envs[0]
    datasets = DATASETS + [(d.split(":")[0], d.split(":")[1].split(), d.split(":")[2].split(",")) for d in args.data]

    print("%-7s %-6s %-9s %9s %12s %9s %9s" % ("data", "thresh", "program", "wall s", "pairs/s", "peak MiB", "speed-up"))
    for name, opts, thresholds in datasets:
        if args.only and args.only != name:
            continue
        prefix = os.path.join(args.out, name)
        subprocess.run([sim] + opts + ["--out", prefix], check=True, stdout=subprocess.DEVNULL)
        pairs = pairs_of(prefix)
        files = ["-g", prefix + ".geno", "-e", prefix + ".expr", "-a", prefix + ".allele"]
        for thr in thresholds:
            fast_out = "%s.%s.morv.txt" % (prefix, thr)
            ref_out = "%s.%s.reference.txt" % (prefix, thr)
            with_ref = (thr != "0" or args.reference_at_zero) and not args.no_reference
            # morv and the reference take turns, so that both see the same
            # state of a shared machine; each figure is the median of its runs.
            ref_runs = min(args.reference_repeat, args.repeat) if with_ref else 0
            # Nothing left from earlier sets for the kernel to write back
            # while these runs are timed.
            os.sync()
            walls, ref_walls, base_walls, peak, ref_peak = [], [], [], 0.0, 0.0
            other_walls = [[] for _ in levels[1:]]
            par_walls, par_peak, by_core = [], 0.0, {}
            base_out = "%s.%s.baseline.txt" % (prefix, thr)
            par_out = "%s.%s.threads.txt" % (prefix, thr)
            for i in range(args.repeat):
                core = cores[i % len(cores)]
                w, m = run_measured([morv] + files + ["-o", fast_out], thr + "\n", morv_env, cpu=core)
                walls.append(w)
                by_core.setdefault(core, []).append(w)
                peak = max(peak, m)
                for k, env in enumerate(envs[1:]):
                    other_out = "%s.%s.%s.txt" % (prefix, thr, levels[k + 1])
                    other_walls[k].append(run_measured([morv] + files + ["-o", other_out], thr + "\n", env,
                                                       cpu=core)[0])
                if args.threads > 1:
                    w, m = run_measured([morv, "--threads", str(args.threads)] + files + ["-o", par_out], thr + "\n",
                                        morv_env)
                    par_walls.append(w)
                    par_peak = max(par_peak, m)
                if args.baseline:
                    base_walls.append(run_measured([os.path.join(args.baseline, "morv")] + files +
                                                   ["-o", base_out], thr + "\n", cpu=core)[0])
                if i < ref_runs:
                    w, m = run_measured([ref] + files + ["-o", ref_out], thr + "\n", cpu=core)
                    ref_walls.append(w)
                    ref_peak = max(ref_peak, m)
            fast = statistics.median(walls)
            print("%-7s %-6s %-9s %9.3f %12.0f %9.1f %9s" % (name, thr, "morv" + ("@" + levels[0] if levels[0] else ""),
                                                         fast, pairs / fast, peak, ""))
            level_walls = [(levels[0], fast)]
            for k, level in enumerate(levels[1:]):
                other_out = "%s.%s.%s.txt" % (prefix, thr, level)
                w = statistics.median(other_walls[k])
                level_walls.append((level, w))
                same = same_file(fast_out, other_out)
                print("%-7s %-6s %-9s %9.3f %12.0f %9s %9s  files %s" % (name, thr, "morv@" + level, w, pairs / w, "", "",
                                                                      "identical" if same else "DIFFER"))
                if not same:
                    sys.exit("result files differ: %s %s" % (fast_out, other_out))
            sys.stdout.flush()
            if args.threads > 1:
                w = statistics.median(par_walls)
                same = same_file(fast_out, par_out)
                print("%-7s %-6s %-9s %9.3f %12.0f %9.1f %8.2fx  over 1 thread (by core: %s s), files %s" % (
                    name, thr, "morv -t%d" % args.threads, w, pairs / w, par_peak, one_core_time(by_core) / w,
                    " / ".join("%.3f" % statistics.median(by_core[c]) for c in sorted(by_core)),
                    "identical" if same else "DIFFER"))
                if not same:
                    sys.exit("result files differ: %s %s" % (fast_out, par_out))
            if args.baseline:
                w = statistics.median(base_walls)
                same = same_file(fast_out, base_out)
                print("%-7s %-6s %-9s %9.3f %12.0f %9s %8.3fx  files %s" % (
                    name, thr, "baseline", w, pairs / w, "", w / fast, "identical" if same else "DIFFER"))
                if not same:
                    sys.exit("result files differ: %s %s" % (fast_out, base_out))
            if with_ref:
                w = statistics.median(ref_walls)
                same = same_file(fast_out, ref_out)
                print("%-7s %-6s %-9s %9.3f %12.0f %9.1f %8.1fx  files %s%s" % (
                    name, thr, "reference", w, pairs / w, ref_peak, w / fast, "identical" if same else "DIFFER",
                    "".join(", %.1fx at %s" % (w / lw, lv) for lv, lw in level_walls[1:])))
                if not same:
                    sys.exit("result files differ: %s %s" % (fast_out, ref_out))
            if thr == "0" and not args.no_peer:
                peer_out = "%s.0.numpy.txt" % prefix
                walls, peak = [], 0.0
                for _ in range(args.repeat):
                    w, m = run_measured(["/usr/bin/python3", PEER] + files + ["-o", peer_out],
                                        None, peer_env)
                    walls.append(w)
                    peak = max(peak, m)
                pw = statistics.median(walls)
                print("%-7s %-6s %-9s %9.3f %12.0f %9.1f %8.2fx  (%d lines differ in last digits)" % (
                    name, thr, "numpy", pw, pairs / pw, peak, pw / fast, differing_lines(fast_out, peer_out)))
            sys.stdout.flush()


if __name__ == "__main__":
    main()
