#!/bin/sh
# TIFF writing against ImageMagick and libtiff on one photo-sized RGB image
# stored as a bitmap: BMP to TIFF with LZW (horizontal differencing) against
# `convert -compress lzw` and `tiffcp -c lzw:2` (which starts from an
# uncompressed TIFF of the same pixels), Deflate (horizontal differencing)
# against `convert -compress zip`, JPEG against `convert -compress jpeg`,
# PackBits and uncompressed against `convert`, with the file sizes beside
# each (for Deflate their ratio, which should lie within 5 %). rastik writes its thumbnail
# too, as it does by default. Times are the best of three runs, wall clock
# and CPU (user + system; the machine is shared, so the CPU ratio is the
# steadier one).
# Usage: bench/tiff_write_bench.sh [BUILD_DIR]   (default: build beside this folder)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
tool=$build/rastik
convert=/usr/bin/convert
width=4000
height=2144
runs=3

for need in "$tool" "$convert" /usr/bin/tiffcp; do
    if [ ! -x "$need" ]; then
        echo "missing $need (build the rastik tool; install ImageMagick and libtiff-tools)" >&2
        exit 2
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tiffwbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

. "$here/timing.sh"
kb() { echo $(( $(wc -c < "$1") / 1024 )); }

photo=$work/photo.bmp
"$convert" -size ${width}x${height} -seed 1 plasma:fractal -blur 0x2 -depth 8 -type TrueColor "$photo"
"$convert" "$photo" -compress none "$work/plain.tif"
echo "image: ${width} x ${height} RGB, 8 bits per sample ($(kb "$photo") kB as BMP)"

compare_with() {  # label, rastik compression, their command...
    label=$1 ours=$2
    shift 2
    set -- $(measure "$tool" convert --compression "$ours" "$photo" "$work/ours.tif") "$@"
    ow=$1 oc=$2
    shift 3  # wall, CPU, memory
    set -- $(measure "$@")
    tw=$1 tc=$2
    echo "$label: rastik ${ow}s (cpu ${oc}s, $(kb "$work/ours.tif") kB), theirs ${tw}s (cpu ${tc}s," \
         "$(kb "$work/theirs.tif") kB): ratio $(ratio "$ow" "$tw"), cpu $(ratio "$oc" "$tc")," \
         "size $(ratio "$(wc -c < "$work/ours.tif")" "$(wc -c < "$work/theirs.tif")")"
}

compare_with "LZW vs convert -compress lzw (target <= 0.5)" lzw \
    "$convert" "$photo" -compress lzw "$work/theirs.tif"
compare_with "LZW vs tiffcp -c lzw:2 (from an uncompressed TIFF)" lzw \
    /usr/bin/tiffcp -c lzw:2 "$work/plain.tif" "$work/theirs.tif"
compare_with "Deflate vs convert -compress zip (target <= 0.5, size within 5 %)" deflate \
    "$convert" "$photo" -compress zip "$work/theirs.tif"
compare_with "JPEG vs convert -compress jpeg (quality 70 both)" jpeg \
    "$convert" "$photo" -compress jpeg -quality 70 "$work/theirs.tif"
compare_with "PackBits vs convert -compress rle" packbits \
    "$convert" "$photo" -compress rle "$work/theirs.tif"
compare_with "uncompressed vs convert -compress none" none \
    "$convert" "$photo" -compress none "$work/theirs.tif"
