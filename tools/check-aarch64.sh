#!/usr/bin/env bash
# Cross-builds morv for aarch64 (Debian's cross compiler, the :arm64
# libraries through multiarch), runs it under qemu-user and requires its
# results to be byte-identical to the native build's: morv and
# morv-reference, result files and console output, on examples/ and on a
# small region of Debian's qtltools example data, at four thresholds. Then
# runs the unit tests that work in one process, the exactness tests among
# them, under qemu.
# Usage: tools/check-aarch64.sh [NATIVE_BUILD [CROSS_BUILD]]   (build, build-aarch64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=$(realpath -m "${1:-build}")
cross=$(realpath -m "${2:-build-aarch64}")
jobs=${JOBS:-2}
SECONDS=0

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "aarch64 libraries need the arm64 architecture: dpkg --add-architecture arm64 (as root)" >&2
    exit 1
  fi
  dpkg --add-architecture arm64
fi
tools/install-deps.sh g++-aarch64-linux-gnu qemu-user libstdc++6:arm64 libhts-dev:arm64 zlib1g-dev:arm64 \
  libxxhash-dev:arm64 libdeflate-dev:arm64 libgtest-dev:arm64 qtltools-example

# Unit tests that run in one process. The others start morv's programs, and a
# process under qemu-user cannot start an aarch64 program without binfmt_misc.
unit_tests=(test_exp_batch test_log_exact test_stats test_interaction_fast test_io test_scan_equivalence)

echo "native build ($native)"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j "$jobs" --target morv morv-reference morv-prepare morv-simulate >/dev/null
echo "aarch64 build ($cross)"
start=$SECONDS
cmake -S . -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$root/tools/aarch64-linux-gnu.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DMORV_BENCH=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$cross" -j "$jobs" --target morv morv-reference "${unit_tests[@]}" >/dev/null
echo "aarch64 build: $((SECONDS - start)) s"
aarch64-linux-gnu-readelf -h "$cross/morv" | grep -q AArch64 || { echo "$cross/morv is not an aarch64 program" >&2; exit 1; }
# Fused multiply-adds would change results: every compile must forbid them.
if grep '"command"' "$cross/compile_commands.json" | grep -v -e '-ffp-contract=off' | grep -q . ||
   grep -q -e '-ffast-math' -e '-Ofast' "$cross/compile_commands.json"; then
  echo "an aarch64 compile lacks -ffp-contract=off or allows fast math" >&2
  exit 1
fi

# The multiarch libc6:arm64 with its own loader: the cross toolchain's copy
# under /usr/aarch64-linux-gnu is another build, and mixing the two hangs fork.
qemu=(qemu-aarch64 -L /)
work=$(mktemp -d "${TMPDIR:-/tmp}/morv-aarch64.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/x86_64" "$work/aarch64"
failed=0
compared=0

# run ARCH PROGRAM TAG THRESHOLD ARGS...: the result in $work/ARCH/TAG.txt,
# the console in TAG.out; run in ARCH's folder, so the console names the
# same output file on both.
run() {
  local arch=$1 prog=$2 tag=$3 threshold=$4
  shift 4
  local cmd=("$native/$prog")
  [ "$arch" = aarch64 ] && cmd=("${qemu[@]}" "$cross/$prog")
  (cd "$work/$arch" && echo "$threshold" | "${cmd[@]}" "$@" -o "$tag.txt" >"$tag.out")
}

same() {
  if cmp -s "$1" "$2"; then
    compared=$((compared + 1))
  else
    echo "DIFFERENT: $1 $2" >&2
    cmp "$1" "$2" >&2 || true
    failed=1
  fi
}

# check DATA GENO EXPR ALLELE: both programs on both builds at each threshold.
check() {
  local data=$1 g=$2 e=$3 a=$4 t prog tag
  local start=$SECONDS
  for t in 0 1e-4 0.05 1; do
    for prog in morv morv-reference; do
      tag=$data.$prog.$t
      run x86_64 "$prog" "$tag" "$t" -g "$g" -e "$e" -a "$a"
      run aarch64 "$prog" "$tag" "$t" -g "$g" -e "$e" -a "$a"
      same "$work/x86_64/$tag.txt" "$work/aarch64/$tag.txt"
      same "$work/x86_64/$tag.out" "$work/aarch64/$tag.out"
    done
    same "$work/aarch64/$data.morv.$t.txt" "$work/aarch64/$data.morv-reference.$t.txt"
  done
  echo "$data: $((SECONDS - start)) s"
}

check examples "$root/examples/genotype.txt" "$root/examples/expression.txt" "$root/examples/allele.txt"

# Real data, prepared natively: 101 SNPs and the BED's first 16 genes (those
# nearest the region), 12,120 lines a run; all 608 genes would take qemu hours.
qtl=$work/qtl
mkdir -p "$qtl"
tar -xf /usr/share/doc/qtltools/examples/examples.tar.xz -C "$qtl"
zcat "$qtl/genes.50percent.chr22.bed.gz" | awk 'NR > 1 && NR <= 17 { print $4 }' >"$qtl/genes.txt"
"$native/morv-prepare" --vcf "$qtl/genotypes.chr22.vcf.gz" --expression "$qtl/genes.50percent.chr22.bed.gz" \
  --out "$qtl/prepared" --region chr22:17000000-17050000 --transform int --genes "$qtl/genes.txt" >/dev/null
p=$qtl/prepared
check chr22 "$p/genotype.txt" "$p/expression.txt" "$p/allele.txt"
# The threaded run on aarch64, and the level its manifest names.
run aarch64 morv chr22.threads 0.05 -g "$p/genotype.txt" -e "$p/expression.txt" -a "$p/allele.txt" --threads 2
same "$work/x86_64/chr22.morv.0.05.txt" "$work/aarch64/chr22.threads.txt"
grep -q '"cpu_level": *"generic"' "$work/aarch64/chr22.threads.txt.manifest.json" ||
  { echo "the aarch64 run's manifest does not name the generic level" >&2; failed=1; }

# The simulator only writes test inputs: the native one serves the emulated tests.
ln -sf "$native/morv-simulate" "$cross/morv-simulate"
for t in "${unit_tests[@]}"; do
  start=$SECONDS
  if "${qemu[@]}" "$cross/$t" --gtest_brief=1 >"$work/$t.log" 2>&1; then
    echo "$t: $(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\./\1 passed/p; s/^\[  SKIPPED \] ([0-9]+) tests?.*/\1 skipped/p' "$work/$t.log" | paste -sd, - | sed 's/,/, /g') ($((SECONDS - start)) s)"
  else
    cat "$work/$t.log" >&2
    echo "$t: FAILED" >&2
    failed=1
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "check-aarch64: FAILED after $SECONDS s" >&2
  exit 1
fi
echo "check-aarch64: $compared files identical (aarch64 against x86-64, fast against reference), unit tests passed; $SECONDS s"
