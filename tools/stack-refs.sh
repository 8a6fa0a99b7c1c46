#!/usr/bin/env bash
# Counts the stack references (spills and reloads, mostly) in each level's
# instantiation of the vector kernels of a built binary: a kernel whose
# accumulators do not fit the level's registers shows up with dozens. This
# works from the generated code, so it checks a level this CPU may lack.
#
#   tools/stack-refs.sh [build/morv]
set -euo pipefail
binary=${1:-build/morv}
objdump -d --no-show-raw-insn -C "$binary" | awk '
  /^[0-9a-f]+ <.*>:$/ {
    name = $0; sub(/^[0-9a-f]+ </, "", name); sub(/>:$/, "", name)
    keep = name ~ /^(void |bool |unsigned long )?(cross_sums_block|column_sums|class_determinants|whole_determinants|statistic_estimates|log_batch|lay_out|design_products|predictors|log_arguments|step_sums|exp_kernel::|log_kernel::)/ && name ~ /<(Generic|Avx2|Avx512)/
    if (keep) { short = name; sub(/\(.*/, "", short); refs[short] += 0 }
    next
  }
  keep && /\(%rsp\)|\(%rbp\)|\(%rsp,|\(%rbp,/ && /%[xyz]mm/ { refs[short]++ }
  END { for (f in refs) printf "%5d  %s\n", refs[f], f }' | sort -k2
