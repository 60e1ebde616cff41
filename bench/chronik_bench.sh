#!/usr/bin/env bash
# Builds and runs the store benchmark: Write batches per second without
# durability against SQLite (WAL, synchronous=NORMAL) and with durability
# against synchronous=FULL, and the time of the same paired range read on
# both sides, each as a ratio (write: chronik's rate over SQLite's, read:
# chronik's time over SQLite's).
#   bench/chronik_bench.sh [BUILD_DIR] [chronik_bench options]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target chronik_bench -j2 >/dev/null
"$build/bench/chronik_bench" "$@"
