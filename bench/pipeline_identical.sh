#!/usr/bin/env bash
# Checks that two builds read and write every image identically: runs
# pipeline_digest of each build over the sample, the test-image corpus and
# the benchmark images, and compares the digest lines.
#   bench/pipeline_identical.sh [--threads N,N,...] BUILD-BEFORE BUILD-AFTER [IMAGE...]
# With --threads the after build runs once per thread count (RASTIK_THREADS)
# and every run must match the before build's (run with one thread); the
# same build on both sides compares its thread counts with each other.
# Without images it takes samples/*, ../shared/corpus/{bmp,jpeg,jpeg-hostile,tiff,gif,png}
# and the images the benchmarks leave in $BENCH_DIR (default /tmp/rastik-bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
counts=()
if [ "${1:-}" = "--threads" ]; then
  IFS=, read -r -a counts <<<"${2:?--threads takes a list of thread counts}"
  shift 2
fi
before=${1:?build directory before}
after=${2:?build directory after}
shift 2
images=("$@")
if [ ${#images[@]} -eq 0 ]; then
  shopt -s nullglob
  images=("$root"/samples/*.bmp)
  for sub in bmp jpeg jpeg-hostile tiff gif png; do
    images+=("$root"/../shared/corpus/$sub/*)
  done
  images+=("${BENCH_DIR:-/tmp/rastik-bench}"/*.bmp "${BENCH_DIR:-/tmp/rastik-bench}"/*.jpg)
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/a" "$scratch/b"
RASTIK_THREADS=1 "$before/bench/pipeline_digest" "$scratch/a" "${images[@]}" >"$scratch/before.txt"
runs=("${counts[@]}")
[ ${#runs[@]} -eq 0 ] && runs=("")
status=0
for n in "${runs[@]}"; do
  if [ -n "$n" ]; then
    RASTIK_THREADS=$n "$after/bench/pipeline_digest" "$scratch/b" "${images[@]}" >"$scratch/after.txt"
    label=" with $n threads"
  else
    "$after/bench/pipeline_digest" "$scratch/b" "${images[@]}" >"$scratch/after.txt"
    label=""
  fi
  if diff "$scratch/before.txt" "$scratch/after.txt"; then
    echo "identical$label: $(wc -l <"$scratch/after.txt") digests over ${#images[@]} images"
  else
    echo "DIFFERENT$label" >&2
    status=1
  fi
done
exit $status
