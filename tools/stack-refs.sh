#!/usr/bin/env bash
# Counts the vector stack references (spills and reloads) in each level's
# instantiation of the vector kernels of a built binary, all of them and
# those inside innermost loops: a kernel whose accumulators do not fit the
# level's registers shows dozens there. It reads the generated code, so
# it checks a level this CPU may lack.
#
#   tools/stack-refs.sh [build/morv]
set -euo pipefail
binary=${1:-build/morv}
objdump -d --no-show-raw-insn -C "$binary" | python3 -c '
import re, sys
kernels = re.compile(r"^(void |bool |unsigned long )?(cross_sums_block|column_sums|class_determinants|"
                     r"whole_determinants|statistic_estimates|log_batch|lay_out|design_products|predictors|"
                     r"log_arguments|step_sums|lu_factor|exp_kernel::|log_kernel::)")
functions, name, body = {}, None, []
for line in sys.stdin:
    head = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
    if head:
        name = head.group(1) if kernels.match(head.group(1)) and re.search(r"<(Generic|Avx2|Avx512)", head.group(1)) else None
        if name:
            body = functions.setdefault(re.sub(r"\(.*", "", name), [])
        continue
    insn = re.match(r"^\s+([0-9a-f]+):\s+(.*)$", line)
    if name and insn:
        body.append((int(insn.group(1), 16), insn.group(2)))
for name in sorted(functions):
    code = functions[name]
    loops = []
    for at, text in code:
        jump = re.match(r"j\w+\s+([0-9a-f]+)", text)
        if jump and int(jump.group(1), 16) <= at and int(jump.group(1), 16) >= code[0][0]:
            loops.append((int(jump.group(1), 16), at))
    spill = lambda t: re.search(r"\((%rsp|%rbp)[,)]", t) and re.search(r"%[xyz]mm", t)
    total = sum(1 for _, t in code if spill(t))
    # Innermost loops: those holding no other; a spill there is paid per
    # iteration of the hot loop, one outside it once per block.
    innermost = [(a, b) for a, b in loops if not any((c, d) != (a, b) and a <= c and d <= b for c, d in loops)]
    inner = sum(1 for at, t in code if spill(t) and any(a <= at <= b for a, b in innermost))
    print("%5d %5d  %s" % (total, inner, name))
' | (echo "  all  innermost loops"; cat)
