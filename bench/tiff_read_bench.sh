#!/bin/sh
# TIFF reading against ImageMagick on one photo-sized RGB image in three
# compressions (none, LZW with horizontal differencing, PackBits): the whole
# image read into planes and written as a bitmap against `convert`, and the
# preview against `convert -thumbnail 96x96`; then a 20000 x 20000 LZW TIFF
# converted to a half-size JPEG with a 64 MiB plane cap (time, peak memory).
# Times are the best of three runs, wall clock and CPU (user + system; the
# machine is shared, so the CPU ratio is the steadier one).
# Usage: bench/tiff_read_bench.sh [BUILD_DIR]   (default: build beside this folder)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
tool=$build/rastik
convert=/usr/bin/convert
width=4000
height=2144
big=20000
runs=3

for need in "$tool" "$convert" /usr/bin/tiffcp /usr/bin/python3; do
    if [ ! -x "$need" ]; then
        echo "missing $need (build the rastik tool; install ImageMagick, libtiff-tools, python3)" >&2
        exit 2
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tiffbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

. "$here/timing.sh"

photo=$work/photo.tif
"$convert" -size ${width}x${height} -seed 1 plasma:fractal -blur 0x2 -depth 8 -compress none "$photo"
"$convert" "$photo" -compress lzw -define tiff:predictor=2 "$work/photo-lzw.tif"
/usr/bin/tiffcp -c packbits "$photo" "$work/photo-packbits.tif"
echo "image: ${width} x ${height} RGB, 8 bits per sample"

for kind in none lzw packbits; do
    f=$photo
    [ $kind = none ] || f=$work/photo-$kind.tif
    kb=$(( $(wc -c < "$f") / 1024 ))
    set -- $(measure "$tool" convert "$f" "$work/ours.bmp"); ow=$1; oc=$2; om=$3
    set -- $(measure "$convert" "$f" "$work/theirs.bmp"); iw=$1; ic=$2; im=$3
    echo "$kind (${kb} kB) read + BMP: rastik ${ow}s (cpu ${oc}s, ${om} kB), convert ${iw}s (cpu ${ic}s, ${im} kB):" \
         "ratio $(ratio "$ow" "$iw"), cpu $(ratio "$oc" "$ic") (target <= 0.5)"
    set -- $(measure "$tool" preview "$f" "$work/prev.bmp"); ow=$1; oc=$2
    set -- $(measure "$convert" "$f" -thumbnail 96x96 "$work/thumb.bmp"); iw=$1; ic=$2
    echo "$kind preview: rastik ${ow}s (cpu ${oc}s), convert -thumbnail ${iw}s (cpu ${ic}s):" \
         "ratio $(ratio "$ow" "$iw"), cpu $(ratio "$oc" "$ic") (target <= 0.1)"
done

# The big image: smooth colour rows written uncompressed a row at a time,
# then LZW with differencing in strips of 16 rows by libtiff.
/usr/bin/python3 - "$work/raw.tif" $big $big <<'PY'
import math, struct, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rowbytes = w * 3
base = bytearray(rowbytes * 2)
for x in range(w * 2):
    base[3 * x] = x * 255 // (2 * w - 1)
    base[3 * x + 1] = int(127 + 120 * math.sin(x / 300.0))
    base[3 * x + 2] = 255 - x * 255 // (2 * w - 1)
entries = [(256, 4, 1, w), (257, 4, 1, h), (258, 3, 3, 0), (259, 3, 1, 1), (262, 3, 1, 2),
           (273, 4, 1, 0), (277, 3, 1, 3), (278, 4, 1, h), (279, 4, 1, rowbytes * h)]
bits = 8 + 2 + 12 * len(entries) + 4
with open(path, 'wb') as f:
    f.write(b'II*\0' + struct.pack('<IH', 8, len(entries)))
    for tag, typ, count, value in entries:
        value = {258: bits, 273: bits + 6}.get(tag, value)
        f.write(struct.pack('<HHII', tag, typ, count, value) if typ == 4 or count > 1
                else struct.pack('<HHIHH', tag, typ, count, value, 0))
    f.write(struct.pack('<IHHH', 0, 8, 8, 8))
    for y in range(h):
        s = (y * 3 // 2) % w * 3
        f.write(base[s:s + rowbytes])
PY
/usr/bin/tiffcp -c lzw:2 -r 16 "$work/raw.tif" "$work/big.tif"
rm -f "$work/raw.tif"
/usr/bin/time -f '%e %U %S %M' -o "$work/time" "$tool" convert --plane-cap 64M --width $(( big / 2 )) \
    "$work/big.tif" "$work/half.jpg" >/dev/null
read -r t u s mem < "$work/time"
echo "${big} x ${big} LZW ($(( $(wc -c < "$work/big.tif") / 1048576 )) MiB) to a half-size JPEG, --plane-cap 64M:" \
     "${t}s (cpu $(awk "BEGIN{printf \"%.1f\", $u + $s}")s), peak $(( mem / 1024 )) MiB (target < 200 MiB)"
