#!/usr/bin/env bash
# Conversion demo on the bundled sample: the 320 x 200 24-bit bitmap becomes
# a 160-pixel-wide 256-colour bitmap, a grey bitmap and black-and-white rows,
# and each result is described.
# Usage: rastik-demo.sh [OUTDIR]   (default: build/rastik-demo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/rastik-demo}
tool=$(command -v rastik || true)
[ -n "$tool" ] || tool=$root/build/rastik
if [ ! -x "$tool" ]; then
  echo "rastik-demo: no rastik tool on PATH or in $root/build; run scripts/build.sh first" >&2
  exit 1
fi
sample=$root/samples/sample.bmp
mkdir -p "$out"

has_info() { "$tool" --help 2>/dev/null | grep -q '^  info '; }

echo "-- source"
if has_info; then "$tool" info "$sample"; else echo "$sample"; fi

echo "-- smaller, 256 colours"
"$tool" convert --mode indexed --width 160 "$sample" "$out/sample-indexed.bmp"
if has_info; then "$tool" info "$out/sample-indexed.bmp"; fi

echo "-- grey"
"$tool" convert --mode grey "$sample" "$out/sample-grey.bmp"

echo "-- black and white (packed 1-bit rows, bottom row first, no header)"
"$tool" convert --mode bw "$sample" "$out/sample.bw"
echo "$(stat -c %s "$out/sample.bw") bytes = 200 rows x 40 bytes"

echo "-- results in $out"
