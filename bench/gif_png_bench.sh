#!/bin/sh
# GIF and PNG codecs against ImageMagick on one photo-sized image: writing a
# GIF from a photo (quantizing and encoding) and from an indexed bitmap,
# writing and reading a PNG, and previews of a large PNG and GIF against a
# thumbnail. Prints times, their ratios against the targets, and file sizes.
# Usage: bench/gif_png_bench.sh [BUILD_DIR]   (default: build beside this folder)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
tool=$build/rastik
convert=/usr/bin/convert
width=4000
height=2150
runs=3

if [ ! -x "$tool" ]; then
    echo "build the tool first: cmake --build $build --target rastik_tool" >&2
    exit 2
fi
if [ ! -x "$convert" ]; then
    echo "ImageMagick ($convert) is not installed; nothing to compare with" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/gifpngbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# A photo-like picture: a fractal landscape of colour with a little noise.
"$convert" -size ${width}x${height} -seed 11 plasma:fractal -blur 0x2 -attenuate 0.4 +noise Gaussian \
    -type truecolor BMP3:"$work/photo.bmp"
"$convert" "$work/photo.bmp" -colors 256 -type palette -compress none BMP3:"$work/indexed.bmp"
"$convert" "$work/photo.bmp" "$work/photo.png"
"$convert" "$work/indexed.bmp" "$work/photo.gif"

# Best of $runs runs: processor time (user + system) in seconds, and the
# wall time of that run. On a machine shared with other work the processor
# time is the steadier of the two; ImageMagick may spread its work over
# several cores, so its wall time can be below its processor time.
measure() {
    best="" wall=""
    for _ in $(seq $runs); do
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
        read -r e u s < "$work/time"
        t=$(awk "BEGIN{printf \"%.3f\", $u + $s}")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t wall=$e; fi
    done
    echo "$best $wall"
}

ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.3f\", $1 / $2; else print \"n/a\" }"; }
kb() { echo "$(( $(wc -c < "$1") / 1024 )) kB"; }

# compare LABEL TARGET OURS-OUTPUT THEIR-OUTPUT -- OUR COMMAND -- THEIR COMMAND
compare() {
    label=$1 target=$2 ours_out=$3 im_out=$4
    shift 5
    ours_cmd=""
    while [ "$1" != "--" ]; do ours_cmd="$ours_cmd $1"; shift; done
    shift
    set -- $(measure $ours_cmd) $(measure "$@")
    printf '%-20s rastik %6.2fs cpu %6.2fs wall (%s), convert %6.2fs cpu %6.2fs wall (%s): ratio %s cpu, %s wall (target <= %s)\n' \
        "$label" "$1" "$2" "$(kb "$ours_out")" "$3" "$4" "$(kb "$im_out")" "$(ratio "$1" "$3")" "$(ratio "$2" "$4")" \
        "$target"
}

echo "image: ${width} x ${height}; photo.bmp $(kb "$work/photo.bmp"), indexed.bmp $(kb "$work/indexed.bmp")," \
     "photo.png $(kb "$work/photo.png"), photo.gif $(kb "$work/photo.gif")"

compare "photo BMP -> GIF" 0.2 "$work/o1.gif" "$work/i1.gif" -- \
    "$tool" convert --mode indexed "$work/photo.bmp" "$work/o1.gif" -- "$convert" "$work/photo.bmp" "$work/i1.gif"
compare "indexed BMP -> GIF" 0.2 "$work/o2.gif" "$work/i2.gif" -- \
    "$tool" convert "$work/indexed.bmp" "$work/o2.gif" -- "$convert" "$work/indexed.bmp" "$work/i2.gif"
compare "BMP -> PNG" 0.8 "$work/o3.png" "$work/i3.png" -- \
    "$tool" convert "$work/photo.bmp" "$work/o3.png" -- "$convert" "$work/photo.bmp" "$work/i3.png"
echo "  PNG size / convert's: $(ratio "$(wc -c < "$work/o3.png")" "$(wc -c < "$work/i3.png")") (target <= 1.1)"
compare "PNG -> BMP" 0.5 "$work/o4.bmp" "$work/i4.bmp" -- \
    "$tool" convert "$work/photo.png" "$work/o4.bmp" -- "$convert" "$work/photo.png" "$work/i4.bmp"
compare "preview of the PNG" "-" "$work/p5.bmp" "$work/t5.bmp" -- \
    "$tool" preview "$work/photo.png" "$work/p5.bmp" -- "$convert" "$work/photo.png" -thumbnail 96x96 "$work/t5.bmp"
compare "preview of the GIF" "-" "$work/p6.bmp" "$work/t6.bmp" -- \
    "$tool" preview "$work/photo.gif" "$work/p6.bmp" -- "$convert" "$work/photo.gif" -thumbnail 96x96 "$work/t6.bmp"
