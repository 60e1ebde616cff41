#!/usr/bin/env bash
# JPEG writing benchmark, run by hand: `rastik convert` of a photo-sized
# 24-bit bitmap into a JPEG at quality 70 against ImageMagick's
# `convert in.bmp -quality 70 out.jpg` on the same file, best of N runs,
# with each output's size and PSNR against the bitmap (target: rastik takes
# at most 0.5 x ImageMagick's time), then the encoder alone against cjpeg.
# Usage: bench/jpeg_bench.sh [build-dir] [--width W] [--height H] [--reps N] [--quality Q]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
width=4000
height=2150
reps=5
quality=70
while [ $# -gt 0 ]; do
  case $1 in
    --width) width=$2; shift ;;
    --height) height=$2; shift ;;
    --reps) reps=$2; shift ;;
    --quality) quality=$2; shift ;;
    *) echo "usage: $0 [build-dir] [--width W] [--height H] [--reps N] [--quality Q]" >&2; exit 2 ;;
  esac
  shift
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target rastik_tool jpeg_bench -j2 >/dev/null
rastik=$build/rastik
helper=$build/bench/jpeg_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/jpeg-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Best of N runs: prints "seconds peak-KiB" (wall time from the nanosecond
# clock, peak resident memory from /usr/bin/time).
measure() {
  local best="" start end secs kib
  for _ in $(seq "$reps"); do
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/mem" "$@" >/dev/null
    end=$(date +%s%N)
    secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    kib=$(tail -1 "$work/mem")
    if [ -z "$best" ] || awk -v a="$secs" -v b="${best% *}" 'BEGIN { exit !(a < b) }'; then best="$secs $kib"; fi
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

"$helper" make "$width" "$height" "$work/in.bmp"
echo "== $width x $height 24-bit bitmap to JPEG at quality $quality, best of $reps"
ours=$(measure "$rastik" convert --quality "$quality" "$work/in.bmp" "$work/rastik.jpg")
ours_size=$(stat -c %s "$work/rastik.jpg")
ours_psnr=$("$helper" psnr "$work/in.bmp" "$work/rastik.jpg")
printf 'rastik convert        %6.3f s %7d KiB peak  %9d bytes  PSNR %s dB\n' "${ours% *}" "${ours#* }" \
  "$ours_size" "$ours_psnr"
if [ ! -x /usr/bin/convert ]; then
  echo "ImageMagick (/usr/bin/convert) is not installed: no comparison"
  exit 0
fi
theirs=$(measure /usr/bin/convert "$work/in.bmp" -quality "$quality" "$work/im.jpg")
theirs_size=$(stat -c %s "$work/im.jpg")
theirs_psnr=$("$helper" psnr "$work/in.bmp" "$work/im.jpg")
printf 'ImageMagick convert   %6.3f s %7d KiB peak  %9d bytes  PSNR %s dB\n' "${theirs% *}" "${theirs#* }" \
  "$theirs_size" "$theirs_psnr"
echo "time ratio $(ratio "${ours% *}" "${theirs% *}") (target <= 0.5), size ratio $(ratio "$ours_size" "$theirs_size")"

# The encoder alone against cjpeg on the same pixels, in the same run.
echo
echo "== the DCT encoder alone against cjpeg -quality $quality"
"$here/dct_encoder_bench.sh" "$build" --width "$width" --height "$height" --quality "$quality"
