#!/bin/sh
# TIFF reading against ImageMagick on one photo-sized RGB image in four
# compressions (none, LZW and Deflate with horizontal differencing,
# PackBits): the whole image read into planes and written as a bitmap
# against `convert` (Deflate also against `vips copy`), and the preview
# against `convert -thumbnail 96x96`; the photo as a tiled JPEG TIFF, its
# preview against `vipsthumbnail`; a Group 4 A4 page at 300 dpi to a bitmap
# against `convert`; then 20000 x 20000 LZW and tiled Deflate TIFFs
# converted to a half-size JPEG with a 64 MiB plane cap (time, peak memory).
# A file the reader refuses is reported as "refused".
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

vips=/usr/bin/vips
for need in "$tool" "$convert" /usr/bin/tiffcp /usr/bin/python3 "$vips" /usr/bin/vipsthumbnail; do
    if [ ! -x "$need" ]; then
        echo "missing $need (build the rastik tool; install ImageMagick, libtiff-tools, python3, libvips-tools)" >&2
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
"$convert" "$photo" -compress zip "$work/photo-deflate.tif"
echo "image: ${width} x ${height} RGB, 8 bits per sample"

# Whether the tool reads a file: "refused" and its message when it does not.
refused() {  # command...
    if "$@" >/dev/null 2>"$work/refusal"; then return 1; fi
    echo "refused ($(head -c 200 "$work/refusal" | tr '\n' ' '))"
}

for kind in none lzw packbits deflate; do
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

f=$work/photo-deflate.tif
set -- $(measure "$tool" convert "$f" "$work/ours.bmp"); ow=$1; oc=$2; om=$3
set -- $(measure "$vips" copy "$f" "$work/theirs.bmp"); vw=$1; vc=$2; vm=$3
echo "deflate read + BMP: rastik ${ow}s (cpu ${oc}s, ${om} kB), vips copy ${vw}s (cpu ${vc}s, ${vm} kB):" \
     "ratio $(ratio "$ow" "$vw"), cpu $(ratio "$oc" "$vc") (target <= 1; against convert above, target <= 0.4)"

# The photo as JPEG tiles of 256 x 256 (YCbCr 2 x 2): the preview.
tiled=$work/photo-tiled-jpeg.tif
/usr/bin/tiffcp -c jpeg:90 -t -w 256 -l 256 "$photo" "$tiled"
if ! r=$(refused "$tool" preview "$tiled" "$work/prev.bmp"); then
    set -- $(measure "$tool" preview "$tiled" "$work/prev.bmp"); ow=$1; oc=$2
    set -- $(measure /usr/bin/vipsthumbnail "$tiled" -s 96 -o "$work/thumb.jpg"); vw=$1; vc=$2
    r="rastik ${ow}s (cpu ${oc}s), vipsthumbnail ${vw}s (cpu ${vc}s): ratio $(ratio "$ow" "$vw"), cpu $(ratio "$oc" "$vc")"
fi
echo "tiled JPEG preview: $r (target <= 0.5)"

# An A4 page at 300 dpi of lines of word-like black runs, Group 4.
/usr/bin/python3 - "$work/page.pbm" <<'PY'
import random, sys
w, h = 2480, 3508
rng = random.Random(4)
rows = [bytearray(w // 8) for _ in range(h)]
for top in range(300, h - 300, 60):
    x = 250
    while x < w - 300:
        word = rng.randint(40, 260)
        for y in range(top, top + 30):
            for px in range(x, min(x + word, w - 250)):
                if (px * 7 + y * 3) % 11 < 8:
                    rows[y][px // 8] |= 0x80 >> (px % 8)
        x += word + rng.randint(20, 40)
with open(sys.argv[1], 'wb') as f:
    f.write(b'P4\n%d %d\n' % (w, h))
    for r in rows:
        f.write(r)
PY
"$convert" "$work/page.pbm" -compress group4 "$work/page-g4.tif"
f=$work/page-g4.tif
if ! r=$(refused "$tool" convert "$f" "$work/ours.bmp"); then
    set -- $(measure "$tool" convert "$f" "$work/ours.bmp"); ow=$1; oc=$2
    set -- $(measure "$convert" "$f" "$work/theirs.bmp"); iw=$1; ic=$2
    r="rastik ${ow}s (cpu ${oc}s), convert ${iw}s (cpu ${ic}s): ratio $(ratio "$ow" "$iw"), cpu $(ratio "$oc" "$ic")"
fi
echo "Group 4 A4 page ($(( $(wc -c < "$f") / 1024 )) kB) read + BMP: $r (target <= 0.3)"

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
# Tiles need the whole image in memory: lift tiffcp's limit for them.
/usr/bin/tiffcp -m 0 -c zip:2 -t -w 256 -l 256 "$work/raw.tif" "$work/big-tiled.tif"
rm -f "$work/raw.tif"
for kind in LZW tiled-Deflate; do
    f=$work/big.tif
    [ $kind = LZW ] || f=$work/big-tiled.tif
    label="${big} x ${big} $kind ($(( $(wc -c < "$f") / 1048576 )) MiB) to a half-size JPEG, --plane-cap 64M:"
    if /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$tool" convert --plane-cap 64M --width $(( big / 2 )) \
        "$f" "$work/half.jpg" >/dev/null 2>"$work/refusal"; then
        read -r t u s mem < "$work/time"
        echo "$label ${t}s (cpu $(awk "BEGIN{printf \"%.1f\", $u + $s}")s), peak $(( mem / 1024 )) MiB (target < 200 MiB)"
    else
        echo "$label refused ($(head -c 200 "$work/refusal" | tr '\n' ' '))"
    fi
    rm -f "$f"
done
