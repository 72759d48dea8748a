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
  case "$(basename "$b")" in
    bench_sfs_storage)
      # Each group in a process of its own: the gigabytes of the sequential group change the
      # memory state of the process the later groups would otherwise inherit.
      for group in Sequential Growth ManyFiles; do
        "$b" --benchmark_counters_tabular=true --benchmark_filter="^BM_($group|Ratios)"
      done ;;
    *) "$b" --benchmark_counters_tabular=true ;;
  esac
done
[ $found -eq 1 ] || { echo "run-bench: no benchmarks in $build/bench" >&2; exit 1; }
