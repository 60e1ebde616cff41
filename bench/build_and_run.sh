#!/bin/sh
# Builds one benchmark program and runs it. Usage:
#   bench/build_and_run.sh PROGRAM [build-dir] [program arguments...]
set -e
here=$(cd "$(dirname "$0")" && pwd)
program=$1
shift
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target "$program" -j2 >/dev/null
exec "$build/bench/$program" "$@"
