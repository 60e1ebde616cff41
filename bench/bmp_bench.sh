#!/bin/sh
# Bitmap codec against ImageMagick on one photo-sized 24-bit bitmap:
# the preview (reduced read) against a thumbnail, and reading the whole image
# into planes and writing it back (time and peak memory) against a copy.
# Usage: bench/bmp_bench.sh [BUILD_DIR]   (default: build-bmp beside this folder)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-bmp}
helper=$build/bench/bmp_bench
tool=$build/rastik
convert=/usr/bin/convert
width=4000
height=2150
runs=3

if [ ! -x "$helper" ]; then
    echo "build the helper first: cmake --build $build --target bmp_bench" >&2
    exit 2
fi
if [ ! -x "$convert" ]; then
    echo "ImageMagick ($convert) is not installed; nothing to compare with" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/bmpbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
image=$work/photo.bmp
"$helper" make "$image" $width $height

# Best wall time in seconds (nanosecond clock) of $runs runs, and the peak
# resident memory in kB (/usr/bin/time) of the last run.
measure() {
    best=""
    for _ in $(seq $runs); do
        t0=$(date +%s%N)
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        t=$(awk "BEGIN{printf \"%.4f\", ($t1 - $t0) / 1e9}")
        read -r _ mem < "$work/time"
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best $mem"
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.3f\", $1 / $2; else print \"n/a\" }"; }

planes_kb=$(( (width + 3) / 4 * 4 * height * 3 / 1024 ))
echo "image: ${width} x ${height}, 24-bit, $(( $(wc -c < "$image") / 1024 )) kB; three planes: ${planes_kb} kB"

if [ -x "$tool" ] && "$tool" preview --help >/dev/null 2>&1; then
    preview_cmd="$tool preview $image $work/prev.bmp"
    preview_by="rastik preview"
else
    preview_cmd="$helper preview $image"
    preview_by="bmp_bench preview (the rastik tool has no preview command)"
fi
set -- $(measure $preview_cmd); ours_t=$1
set -- $(measure "$convert" "$image" -thumbnail 96x96 "$work/thumb.bmp"); im_t=$1
echo "preview    : $preview_by ${ours_t}s, convert -thumbnail 96x96 ${im_t}s, ratio $(ratio "$ours_t" "$im_t") (target <= 0.2)"

set -- $(measure "$helper" copy "$image" "$work/copy.bmp"); ours_t=$1; ours_m=$2
set -- $(measure "$convert" "$image" "$work/im.bmp"); im_t=$1; im_m=$2
pixels=$(( (width * 3 + 3) / 4 * 4 * height ))
cmp -s -i 54 -n $pixels "$image" "$work/copy.bmp" && same="pixel rows identical" || same="PIXEL ROWS DIFFER"
echo "read+write : bmp_bench copy ${ours_t}s ${ours_m} kB, convert ${im_t}s ${im_m} kB ($same)"
echo "  time ratio $(ratio "$ours_t" "$im_t") (target <= 1), peak memory / three planes $(ratio "$ours_m" "$planes_kb") (target <= 1.5), memory ratio to convert $(ratio "$ours_m" "$im_m")"

# The same photograph as 8-bit run-length rows (256 colours) and as 32-bit
# bit-field pixels with alpha, as ImageMagick writes them: the run-length
# file read and written back, the bit-field file read, and previews of both.
# CPU seconds (user + system) of one run, steadier than wall time on a
# shared machine: the best of $runs timings of 10 runs each (the clock counts
# in hundredths), divided by 10.
cpu_of() {
    best=""
    for _ in $(seq $runs); do
        /usr/bin/time -f '%U %S' -o "$work/time" sh -c 'for i in 1 2 3 4 5 6 7 8 9 10; do "$@"; done' sh "$@" \
            >/dev/null 2>&1
        c=$(awk '{printf "%.4f", ($1 + $2) / 10}' "$work/time")
        if [ -z "$best" ] || awk "BEGIN{exit !($c < $best)}"; then best=$c; fi
    done
    echo "$best"
}
rle=$work/photo-rle8.bmp
fields=$work/photo-bf32.bmp
"$convert" "$image" +dither -colors 256 -compress RLE "BMP3:$rle"
"$convert" "$image" -alpha on "BMP:$fields"
echo "run-length: $(( $(wc -c < "$rle") / 1024 )) kB; bit fields: $(( $(wc -c < "$fields") / 1024 )) kB (CPU seconds below)"

ours_t=$(cpu_of "$helper" copy "$rle" "$work/rle-copy.bmp")
im_t=$(cpu_of "$convert" "$rle" "$work/rle-im.bmp")
"$convert" "$rle" rgb:"$work/rle.rgb"
"$convert" "$work/rle-copy.bmp" rgb:"$work/rle-copy.rgb"
cmp -s "$work/rle.rgb" "$work/rle-copy.rgb" && same="same pixels" || same="PIXELS DIFFER"
echo "rle8 read+write : bmp_bench copy ${ours_t}s, convert ${im_t}s, ratio $(ratio "$ours_t" "$im_t") (target <= 0.3; $same)"

ours_t=$(cpu_of "$helper" read "$fields")
im_t=$(cpu_of "$convert" "$fields" null:)
echo "bf32 read       : bmp_bench read ${ours_t}s, convert to null: ${im_t}s, ratio $(ratio "$ours_t" "$im_t") (target <= 0.3)"

for kind in rle fields; do
    eval file=\$$kind
    ours_t=$(cpu_of "$helper" preview "$file")
    im_t=$(cpu_of "$convert" "$file" -thumbnail 96x96 "$work/thumb-$kind.bmp")
    echo "preview $kind: bmp_bench preview ${ours_t}s, convert -thumbnail 96x96 ${im_t}s, ratio $(ratio "$ours_t" "$im_t") (target <= 0.1)"
done
