#!/usr/bin/env bash
# Checks that two builds read and write every image identically: runs
# pipeline_digest of each build over the sample, the test-image corpus and
# the benchmark images, and compares the digest lines.
#   bench/pipeline_identical.sh BUILD-BEFORE BUILD-AFTER [IMAGE...]
# Without images it takes samples/*, ../shared/corpus/{bmp,jpeg,jpeg-hostile,tiff,gif,png}
# and the images the benchmarks leave in $BENCH_DIR (default /tmp/rastik-bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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
"$before/bench/pipeline_digest" "$scratch/a" "${images[@]}" >"$scratch/before.txt"
"$after/bench/pipeline_digest" "$scratch/b" "${images[@]}" >"$scratch/after.txt"
if diff "$scratch/before.txt" "$scratch/after.txt"; then
  echo "identical: $(wc -l <"$scratch/after.txt") digests over ${#images[@]} images"
else
  echo "DIFFERENT" >&2
  exit 1
fi
