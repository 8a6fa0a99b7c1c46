#!/usr/bin/env bash
# The tests stay lean: tests/ may hold at most one third as many non-blank
# lines as the production code (every C++ file of driver/ io/ stats/ linalg/
# exact/ fast/ simd/ results/ tools/ files/ prepare/ report/ merge/). Prints
# both counts; fails when over.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' -o -path 'linalg/math' \) -print0 |
    xargs -0 cat | grep -cv '^[[:space:]]*$'
}
production=$(count driver io stats linalg exact fast simd results tools files prepare report merge)
tests=$(count tests)
echo "test budget: tests/ $tests non-blank lines, production $production (limit $((production / 3)))"
if [ $((tests * 3)) -gt "$production" ]; then
  echo "tests/ is over one third of the production code" >&2
  exit 1
fi
