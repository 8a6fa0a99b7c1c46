#!/usr/bin/env bash
# Builds morv and the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-asan) and runs every test.
# A sanitizer report ends the offending process with status 86, which no test
# expects (morv's own failures end with 1), so any report fails a test.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_ASAN:-build-asan}
jobs=${JOBS:-2}

tools/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORV_SANITIZE=ON -DMORV_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

# The options reach every process the tests start, morv included.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:exitcode=86:strict_init_order=1:check_initialization_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86"
export LSAN_OPTIONS="exitcode=86"
cd "$build"
ctest --output-on-failure -j "$jobs"
