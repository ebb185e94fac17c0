#!/usr/bin/env bash
# Runs the fuzzers, the fault soak and the benchmarks, and prints one table of
# their figures: executions per fuzz target, faults injected and survived,
# workflows that lost data (must be 0) and each benchmark's ratio to its
# baseline or floor. Exits non-zero when a fuzzer failed or the soak lost data.
#
# Usage: scripts/hardening.sh [FUZZ_SECONDS]   (default 60 per target)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh
cmake --preset default >/dev/null && cmake --build --preset default -j "$(nproc)" >/dev/null || exit 2
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$(nproc)" >/dev/null || exit 2
bin=build/default/bin
rows=()
status=0

echo "== fuzzing, $seconds s per target"
fuzz_out=$(fuzz/run.sh "$seconds") || status=1
echo "$fuzz_out"
while IFS= read -r line; do
  [[ $line == fuzz_*:* ]] && rows+=("| ${line%%:*} | ${line#*: } |")
done <<<"$fuzz_out"

echo "== fault soak"
soak_out=$("$bin/soak" 2000 240) || status=1
echo "$soak_out"
summary=$(grep '^soak:' <<<"$soak_out")
rows+=("| soak: faults injected and survived | $(grep -o '[0-9]* faults injected and [0-9]* unplugs survived' <<<"$summary") |")
rows+=("| soak: workflows | $(grep -o '^soak: [0-9]* workflows[^;]*' <<<"$summary" | sed 's/^soak: //') |")
rows+=("| soak: workflows that lost data | $(grep -o '[0-9]* lost data' <<<"$summary" | grep -o '^[0-9]*') |")

echo "== benchmarks"
for bench in link_bench workflow_bench model_bench window_bench history_bench param_bench; do
  out=$("$bin/$bench" 2>/dev/null) || status=1
  echo "$out"
  while IFS= read -r line; do
    name=$(awk '{print $1}' <<<"$line")
    figures=$(grep -o '\(ratio_[a-z_]*\|slowest_ms\|floor_ms\|longest_gap_ms\)=[0-9.]*[kM]\?' <<<"$line" | tr '\n' ' ')
    [[ $name == BM_* && -n $figures ]] && rows+=("| $bench $name | $figures|")
  done <<<"$out"
done

echo
echo "== Summary"
echo "| what | figure |"
echo "|---|---|"
printf '%s\n' "${rows[@]}"
exit $status
