#!/usr/bin/env bash
# Starts the demonstration of a release build.
set -euo pipefail
build=${1:-build/release}
echo "run-demo: nothing to demonstrate yet in $build" >&2
exit 1
