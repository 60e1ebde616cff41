#!/usr/bin/env bash
# Builds and runs the store benchmark: Write batches per second and the time
# of a Read over 30 data files, each against SQLite (WAL, one transaction per
# batch, an index on time) on the same events, printed with their ratios.
#   bench/chronik_bench.sh [BUILD_DIR] [--interval S]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target chronik_bench -j2 >/dev/null
echo "== SQLite with synchronous=NORMAL (no sync at commit)"
"$build/bench/chronik_bench" --sync normal "$@"
echo "== SQLite with synchronous=FULL (sync at every commit), a batch every 300 s"
"$build/bench/chronik_bench" --sync full --interval 300
