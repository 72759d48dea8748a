#!/usr/bin/env bash
# Runs every benchmark executable of a release build; each measures its comparison in the same run.
set -euo pipefail
build=${1:-build/release}
shopt -s nullglob
found=0
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
[ $found -eq 1 ] || { echo "run-bench: no benchmarks in $build/bench" >&2; exit 1; }
