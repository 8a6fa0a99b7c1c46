#!/usr/bin/env bash
# Builds the fuzz targets (clang-14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for SECONDS seconds.
# Fails on a crash, a hang (10 s for one input), a sanitizer report or a leak,
# leaving the input that did it in build-fuzz/artifacts/. Prints the total
# executions and executions per second of each target.
#
#   fuzz/run.sh SECONDS          e.g. fuzz/run.sh 30
#   MAX_LEN=8192 FUZZ_SEED=1 fuzz/run.sh 60
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS}
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_FUZZ:-build-fuzz}
max_len=${MAX_LEN:-4096}
seed=${FUZZ_SEED:-0}

tools/install-deps.sh clang-14 libclang-rt-14-dev
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Release \
  -DMORV_FUZZ=ON -DMORV_BENCH=OFF >/dev/null

targets=()
for src in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$src" .cpp)")
done
cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
mkdir -p "$build/artifacts"
failed=0
summary=()
for t in "${targets[@]}"; do
  # New inputs go to the first corpus folder (kept between runs); the seeds
  # in fuzz/corpus are only read.
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/$t.log"
  echo "== $t: ${seconds}s"
  status=0
  timeout --signal=KILL $((seconds + 300)) "$build/$t" -max_len="$max_len" -timeout=10 \
    -max_total_time="$seconds" -seed="$seed" -print_final_stats=1 \
    -artifact_prefix="$root/$build/artifacts/$t-" "$work" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  result=ok
  if [ "$status" -ne 0 ] || grep -qE '^==[0-9]+==ERROR|runtime error:|^SUMMARY: ' "$log"; then
    result="FAILED (status $status, log $log)"
    failed=1
    grep -E 'ERROR|runtime error|SUMMARY|invariant broken|Test unit written|^#[0-9]+ ' "$log" | tail -n 20 >&2 || true
  fi
  summary+=("$(printf '%-18s %12s execs %8s exec/s  %s' "$t" "${execs:-?}" "${rate:-?}" "$result")")
done

echo "== fuzzing summary (${seconds}s per target)"
printf '%s\n' "${summary[@]}"
exit "$failed"
