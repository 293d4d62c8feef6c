#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a scratch copy of its seed corpus and prints
# the executions per second and the coverage it reached. Any finding fails the run.
# Usage: tools/run-fuzzer.sh <fuzzer> <seed corpus folder> <work folder> <seconds>
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || {
    tail -n 60 "$work/log"
    echo "run-fuzzer: $(basename "$fuzzer") found a problem; inputs are in $work/artifacts" >&2
    exit 1
}
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added)' "$work/log" || true
echo "corpus: $(find "$work/corpus" -type f | wc -l) inputs"
