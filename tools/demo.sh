#!/usr/bin/env bash
# Runs morv on the bundled example data at threshold 0.05 and shows where the
# result file is and what it holds.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
result="$root/examples/results.txt"
printf '0.05\n' | "$build/morv" -g "$root/examples/genotype.txt" -e "$root/examples/expression.txt" \
  -a "$root/examples/allele.txt" -o "$result"
echo
echo "Result file: $result"
echo "Lines by flag (0: pruned by the MC test, 2: pruned by the LDA cut-off, 1: all three tests):"
tail -n +4 "$result" | awk -F'\t' '{c[$4]++} END {for (f in c) printf "  flag %s: %d\n", f, c[f]}' | sort
echo "First lines:"
head -n 8 "$result"
