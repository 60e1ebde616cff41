#!/bin/sh
# Builds and runs the DCT encoder benchmark (rastik's own JPEG encoder
# against cjpeg on the same pixels). Usage:
#   bench/dct_encoder_bench.sh [build-dir] [--width W --height H --reps N --quality Q]
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target dct_encoder_bench -j2 >/dev/null
exec "$build/bench/dct_encoder_bench" "$@"
