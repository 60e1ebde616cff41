#!/usr/bin/env bash
# Images larger than memory, run by hand: a 48000 x 48000 grey TIFF
# (2.3 GB of uncompressed pixels, made here in a temporary directory and
# removed afterwards; the size is --size WxH) converted with
# `rastik convert --plane-cap 64M` into TIFF, BigTIFF (format "bigtif":
# `--bigtiff`, against `vips copy` into `out.tif[bigtiff]`), JPEG and PNG,
# against libvips (`vips copy`, which streams) where installed. Prints seconds and
# peak resident memory of each run, and the ratio to vips; --samples 3 makes
# the image RGB. With --check each output is compared byte for byte with the
# same conversion with its planes in memory (the default cap), and a TIFF
# output with the source through libtiff's tiffcmp. Then the hostile
# files of ../shared/corpus/bombs and jpeg-hostile (skipped when absent),
# each of which must fail or convert within seconds and bounded memory
# (CORPUS names another corpus folder).
# The disk needs about three times the image's size free.
# Usage: bench/anysize_bench.sh [build-dir] [--size WxH] [--samples 1|3] [--formats "tif bigtif jpg png"] [--check]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
size=48000x48000
formats="tif bigtif jpg png"
samples=1
check=0
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift ;;
    --formats) formats=$2; shift ;;
    --samples) samples=$2; shift ;;
    --check) check=1 ;;
    *) echo "usage: $0 [build-dir] [--size WxH] [--samples 1|3] [--formats LIST] [--check]" >&2; exit 2 ;;
  esac
  shift
done
width=${size%x*}
height=${size#*x}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target rastik_tool -j2 >/dev/null
rastik=$build/rastik
work=$(mktemp -d "${TMPDIR:-/tmp}/anysize-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work

# A grey or RGB TIFF, little-endian, uncompressed, strips of 64 rows: sample
# s of pixel x of row r holds (x + 3r + 85s) mod 256. Written field by field
# with Python's struct.
/usr/bin/python3 - "$width" "$height" "$work/big.tif" "$samples" <<'EOF'
import struct, sys
w, h, path, spp = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
rps = 64
strips = (h + rps - 1) // rps
tags = 9
ifd = 8
arrays = ifd + 2 + tags * 12 + 4
bits_at = arrays  # BitsPerSample of three samples does not fit in the entry
offsets_at = arrays + 8
counts_at = offsets_at + 4 * strips
data = counts_at + 4 * strips
row_bytes = w * spp
def entry(tag, kind, count, value):
    return struct.pack('<HHII', tag, kind, count, value) if kind == 4 else struct.pack('<HHIHH', tag, kind, count, value, 0)
with open(path, 'wb') as f:
    f.write(b'II' + struct.pack('<HI', 42, ifd))
    f.write(struct.pack('<H', tags))
    bits = entry(258, 3, 1, 8) if spp == 1 else struct.pack('<HHII', 258, 3, 3, bits_at)
    f.write(entry(256, 4, 1, w) + entry(257, 4, 1, h) + bits + entry(259, 3, 1, 1))
    f.write(entry(262, 3, 1, 1 if spp == 1 else 2) + entry(273, 4, strips, offsets_at) + entry(277, 3, 1, spp))
    f.write(entry(278, 4, 1, rps) + entry(279, 4, strips, counts_at) + struct.pack('<I', 0))
    f.write(struct.pack('<HHHH', 8, 8, 8, 0))
    f.write(b''.join(struct.pack('<I', data + s * rps * row_bytes) for s in range(strips)))
    f.write(b''.join(struct.pack('<I', min(rps, h - s * rps) * row_bytes) for s in range(strips)))
    rows = [bytes((i // spp + 3 * r + 85 * (i % spp)) % 256 for i in range(row_bytes)) for r in range(256)]
    for r in range(h):
        f.write(rows[r % 256])
EOF

# Seconds and peak resident KiB of a command: "S KIB", or "failed".
measure() {
  if /usr/bin/time -o "$work/time" -f "%e %M" "$@" >/dev/null 2>&1; then
    tail -1 "$work/time"
  else
    echo "failed"
  fi
}

kind=grey
[ "$samples" = 1 ] || kind=rgb
printf "%-28s %10s %12s %10s %12s %8s\n" "conversion" "rastik s" "rastik MiB" "vips s" "vips MiB" "ratio"
for format in $formats; do
  ext=$format big=() vipsbig=
  if [ "$format" = bigtif ]; then ext=tif big=(--bigtiff) vipsbig="[bigtiff]"; fi
  r=$(measure "$rastik" convert --plane-cap 64M "${big[@]}" "$work/big.tif" "$work/out.$ext")
  if [ "$check" = 1 ]; then
    same=identical
    [ "$ext" != tif ] || tiffcmp "$work/big.tif" "$work/out.$ext" >/dev/null 2>&1 || same="differs from the source"
    "$rastik" convert "${big[@]}" "$work/big.tif" "$work/memory.$ext" >/dev/null 2>&1 && cmp -s "$work/out.$ext" "$work/memory.$ext" ||
      same="differs from the in-memory conversion"
    echo "${width}x$height $kind -> $format: $same" >&2
    rm -f "$work/memory.$ext"
  fi
  rm -f "$work/out.$ext"
  v="failed"
  if command -v vips >/dev/null; then
    v=$(measure vips copy "$work/big.tif" "$work/vips.$ext$vipsbig")
    rm -f "$work/vips.$ext"
  fi
  rs=${r% *} rm_=${r#* } vs=${v% *} vm=${v#* }
  ratio=-
  if [ "$r" != failed ] && [ "$v" != failed ]; then ratio=$(awk -v a="$rs" -v b="$vs" 'BEGIN { printf "%.2f", a / b }'); fi
  if [ "$r" = failed ]; then rs=failed rm_=0; fi
  if [ "$v" = failed ]; then vs=- vm=0; fi
  printf "%-28s %10s %12d %10s %12d %8s\n" "${width}x$height $kind -> $format" "$rs" $((rm_ / 1024)) "$vs" $((vm / 1024)) "$ratio"
done
rm -f "$work/big.tif"

shared=${CORPUS:-$here/../../shared/corpus}
for dir in bombs jpeg-hostile; do
  [ -d "$shared/$dir" ] || { echo "$dir: absent, skipped"; continue; }
  for f in "$shared/$dir"/*; do
    if /usr/bin/time -o "$work/time" -f "%e s, %M KiB" timeout 60 "$rastik" convert --plane-cap 64M "$f" \
         "$work/hostile.jpg" >/dev/null 2>&1; then r=converted; else r=failed; fi
    r="$r in $(tail -1 "$work/time")"
    rm -f "$work/hostile.jpg"
    printf "%-52s %s\n" "$dir/$(basename "$f")" "$r"
  done
done
