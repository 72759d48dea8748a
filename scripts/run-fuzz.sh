#!/usr/bin/env bash
# Runs each fuzz target for a bounded time (FUZZ_SECONDS, default 60); fails on the first crash.
set -euo pipefail
build=${1:-build/fuzz}
seconds=${FUZZ_SECONDS:-60}
shopt -s nullglob
found=0
for f in "$build"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  found=1
  name=$(basename "$f")
  corpus="$build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$name"
  echo "== $name (${seconds}s)"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  "$f" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/fuzz/" "${args[@]}"
done
[ $found -eq 1 ] || { echo "run-fuzz: no fuzz targets in $build/fuzz" >&2; exit 1; }
