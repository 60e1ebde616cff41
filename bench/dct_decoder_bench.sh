#!/bin/sh
# Builds and runs the DCT decoder benchmark (rastik's own JPEG decoder
# against djpeg -nosmooth on files the library's encoder wrote). Usage:
#   bench/dct_decoder_bench.sh [build-dir] [--width W --height H --reps N --quality Q]
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target dct_decoder_bench -j2 >/dev/null
exec "$build/bench/dct_decoder_bench" "$@"
