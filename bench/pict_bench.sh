#!/bin/sh
# Picture reader against ImageMagick on photo-sized pictures, one 32-bit
# (direct pixels) and one 8-bit (indexed), both written by ImageMagick: the
# whole read into planes against convert decoding to nothing, and the
# preview against a thumbnail.
# Usage: bench/pict_bench.sh [BUILD_DIR]   (default: build beside this folder)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
helper=$build/bench/pict_bench
maker=$build/bench/bmp_bench
tool=$build/rastik
convert=/usr/bin/convert
width=3000
height=2000
runs=3

for h in "$helper" "$maker" "$tool"; do
    if [ ! -x "$h" ]; then
        echo "build first: cmake --build $build --target pict_bench bmp_bench rastik_tool" >&2
        exit 2
    fi
done
if [ ! -x "$convert" ]; then
    echo "ImageMagick ($convert) is not installed; nothing to compare with" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pictbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
"$maker" make "$work/photo.bmp" $width $height
"$convert" "$work/photo.bmp" "PICT:$work/photo32.pict"
"$convert" "$work/photo.bmp" -colors 256 "PICT:$work/photo8.pict"

# Best wall time in seconds of $runs runs.
measure() {
    best=""
    for _ in $(seq $runs); do
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        t=$(awk "BEGIN{printf \"%.4f\", ($t1 - $t0) / 1e9}")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best"
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.3f\", $1 / $2; else print \"n/a\" }"; }

for depth in 32 8; do
    image=$work/photo$depth.pict
    info=$("$tool" info "$image" | awk -F': *' '/pixel size/{print $2}')
    echo "image: ${width} x ${height}, pixel size ${info}, $(( $(wc -c < "$image") / 1024 )) kB"
    ours=$(measure "$helper" read "$image")
    theirs=$(measure "$convert" "$image" null:)
    echo "  whole read : pict_bench read ${ours}s, convert ${theirs}s, ratio $(ratio "$ours" "$theirs") (target <= 0.5)"
    ours=$(measure "$tool" preview "$image" "$work/prev.bmp")
    theirs=$(measure "$convert" "$image" -thumbnail 96x96 "$work/thumb.bmp")
    echo "  preview    : rastik preview ${ours}s, convert -thumbnail 96x96 ${theirs}s, ratio $(ratio "$ours" "$theirs") (target <= 0.1)"
done
