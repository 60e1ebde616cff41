#!/usr/bin/env bash
# Batch conversion benchmark, run by hand: 200 photo-sized JPEG files
# (3000 x 2000 by default) converted to half-size JPEG files by
#   rastik convert --jobs 1, rastik convert --jobs $(nproc), and
#   ImageMagick's mogrify -resize 50% -format jpg,
# each printed as files per second, with the ratios and their targets
# (--jobs $(nproc) at least 1.8 x --jobs 1 on two cores, and at least
# 3 x mogrify). The sources are links to one file, so every tool reads
# the same bytes from the page cache.
# Usage: bench/batch_bench.sh [build-dir] [--files N] [--size WxH]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
files=200
size=3000x2000
while [ $# -gt 0 ]; do
  case $1 in
    --files) files=$2; shift ;;
    --size) size=$2; shift ;;
    *) echo "usage: $0 [build-dir] [--files N] [--size WxH]" >&2; exit 2 ;;
  esac
  shift
done
width=${size%x*}
height=${size#*x}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target rastik_tool imgproc_bench_tool -j2 >/dev/null
rastik=$build/rastik
cores=$(nproc)
work=$(mktemp -d "${TMPDIR:-/tmp}/batch-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/bench/imgproc_bench_tool" make "$width" "$height" "$work/photo.bmp" >/dev/null
"$rastik" convert --quality 90 "$work/photo.bmp" "$work/photo.jpg" >/dev/null
mkdir "$work/src"
for i in $(seq -w 1 "$files"); do ln "$work/photo.jpg" "$work/src/photo$i.jpeg"; done

# Seconds of one run of a command.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
rate() { awk -v n="$files" -v s="$1" 'BEGIN { printf "%.2f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

half=$((width / 2))
echo "== $files files of $width x $height JPEG to half size, $cores cores (load average $(cut -d' ' -f1-3 /proc/loadavg))"
t1=$(seconds "$rastik" convert --width "$half" "$work"/src/*.jpeg --out-dir "$work/one" --format jpg --jobs 1)
printf 'rastik --jobs 1:   %7.2f files/s (%s s)\n' "$(rate "$t1")" "$t1"
tn=$(seconds "$rastik" convert --width "$half" "$work"/src/*.jpeg --out-dir "$work/all" --format jpg --jobs "$cores")
printf 'rastik --jobs %s:   %7.2f files/s (%s s)\n' "$cores" "$(rate "$tn")" "$tn"
[ "$(ls "$work/one" | wc -l)" -eq "$files" ] && [ "$(ls "$work/all" | wc -l)" -eq "$files" ] ||
  { echo "batch_bench: not every file was converted" >&2; exit 1; }
printf 'jobs %s / jobs 1: %.2f (target >= 1.8 on two cores)\n' "$cores" "$(ratio "$t1" "$tn")"
if [ -x /usr/bin/mogrify ]; then
  mkdir "$work/magick"
  tm=$(seconds /usr/bin/mogrify -path "$work/magick" -resize 50% -format jpg "$work"/src/*.jpeg)
  printf 'mogrify:           %7.2f files/s (%s s)\n' "$(rate "$tm")" "$tm"
  printf 'jobs %s / mogrify: %.2f (target >= 3)\n' "$cores" "$(ratio "$tm" "$tn")"
else
  echo "mogrify not installed: no comparison with ImageMagick"
fi
