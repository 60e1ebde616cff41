#!/usr/bin/env bash
# Whole-file conversion benchmark, run by hand.
#   (a) against ImageMagick in the same run, on a photo-sized 4000 x 2150
#       24-bit bitmap: half size (target: at most 0.5 x its time) and 256
#       colours (target: at most 0.25 x its time), with peak memory;
#   (b) the large image: a 20000 x 20000 24-bit bitmap (1.2 GB of planes)
#       converted to a half-size grey bitmap with a 64 MiB plane heap cap,
#       so the planes live in the temporary file; peak memory must stay
#       below 200 MiB and a sampled region must match a reference
#       computation. Needs about 3 GB free in the work directory and TMPDIR.
# Usage: bench/imgproc_bench.sh [build-dir] [--skip-large] [--reps N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
large=1
reps=3
while [ $# -gt 0 ]; do
  case $1 in
    --skip-large) large=0 ;;
    --reps) reps=$2; shift ;;
    *) echo "usage: $0 [build-dir] [--skip-large] [--reps N]" >&2; exit 2 ;;
  esac
  shift
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target rastik_tool imgproc_bench_tool -j2 >/dev/null
rastik=$build/rastik
helper=$build/bench/imgproc_bench_tool
work=$(mktemp -d "${TMPDIR:-/tmp}/imgproc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Best of N runs: prints "seconds peak-KiB".
measure() {
  local best="" line
  for _ in $(seq "$reps"); do
    line=$(/usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -1)
    if [ -z "$best" ] || awk -v a="${line% *}" -v b="${best% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

report() {  # name ours theirs target
  local t1=${2% *} m1=${2#* } t2=${3% *} m2=${3#* }
  printf '%-22s rastik %6.2f s %7d KiB | ImageMagick %6.2f s %7d KiB | time ratio %s (target <= %s), memory ratio %s\n' \
    "$1" "$t1" "$m1" "$t2" "$m2" "$(ratio "$t1" "$t2")" "$4" "$(ratio "$m1" "$m2")"
}

echo "== (a) 4000 x 2150 24-bit bitmap, best of $reps"
"$helper" make 4000 2150 "$work/in.bmp"
if [ -x /usr/bin/convert ]; then
  ours=$(measure "$rastik" convert --width 2000 "$work/in.bmp" "$work/half.bmp")
  theirs=$(measure /usr/bin/convert "$work/in.bmp" -resize 50% "$work/im-half.bmp")
  report "half size" "$ours" "$theirs" 0.5
  ours=$(measure "$rastik" convert --mode indexed "$work/in.bmp" "$work/colors.bmp")
  theirs=$(measure /usr/bin/convert "$work/in.bmp" -colors 256 "$work/im-colors.bmp")
  report "256 colours" "$ours" "$theirs" 0.25
else
  echo "ImageMagick (/usr/bin/convert) is not installed: part (a) skipped"
fi
rm -f "$work"/*.bmp

[ "$large" = 1 ] || exit 0
echo "== (b) 20000 x 20000 24-bit bitmap to a half-size grey bitmap, plane heap cap 64 MiB"
need_kib=$((3 * 1024 * 1024))
for dir in "$work" "${TMPDIR:-/tmp}"; do
  free_kib=$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')
  if [ "$free_kib" -lt "$need_kib" ]; then
    echo "only $((free_kib / 1024)) MiB free in $dir; about 3 GiB are needed: part (b) skipped"
    exit 0
  fi
done
start=$(date +%s)
"$helper" make 20000 20000 "$work/big.bmp"
echo "made the source in $(( $(date +%s) - start )) s"
line=$(/usr/bin/time -f '%e %M' "$rastik" convert --plane-cap 64M --mode grey --width 10000 \
  "$work/big.bmp" "$work/big-half.bmp" 2>&1 | tail -1)
secs=${line% *}
kib=${line#* }
printf 'converted in %.1f s, peak memory %d KiB (%.0f MiB; limit 200 MiB): %s\n' "$secs" "$kib" \
  "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" "$([ "$kib" -lt $((200 * 1024)) ] && echo ok || echo TOO MUCH)"
"$rastik" info "$work/big-half.bmp" 2>/dev/null | grep -E 'size|colour mode' || true
# Regions at the corners and the middle, against the reference computation.
status=0
for region in "0 0 300 300" "9700 9700 300 300" "4900 4900 300 300" "0 9990 10000 10"; do
  # shellcheck disable=SC2086
  "$helper" check "$work/big.bmp" "$work/big-half.bmp" $region || status=1
done
exit $status
