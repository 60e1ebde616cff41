#!/usr/bin/env bash
# Images larger than memory, run by hand: a 48000 x 48000 grey TIFF
# (2.3 GB of uncompressed pixels, made here in a temporary directory and
# removed afterwards; the size is --size WxH) converted with
# `rastik convert --plane-cap 64M` into TIFF, JPEG and PNG, against
# libvips (`vips copy`, which streams) where installed. Prints seconds and
# peak resident memory of each run, and the ratio to vips. Then the hostile
# files of ../shared/corpus/bombs and jpeg-hostile (skipped when absent),
# each of which must fail or convert within seconds and bounded memory
# (CORPUS names another corpus folder).
# The disk needs about three times the image's size free.
# Usage: bench/anysize_bench.sh [build-dir] [--size WxH] [--formats "tif jpg png"]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
size=48000x48000
formats="tif jpg png"
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift ;;
    --formats) formats=$2; shift ;;
    *) echo "usage: $0 [build-dir] [--size WxH] [--formats LIST]" >&2; exit 2 ;;
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

# A grey TIFF, little-endian, uncompressed, strips of 64 rows: row r holds
# (x + 3r) mod 256. Written field by field with Python's struct.
/usr/bin/python3 - "$width" "$height" "$work/big.tif" <<'EOF'
import struct, sys
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rps = 64
strips = (h + rps - 1) // rps
tags = 9
ifd = 8
arrays = ifd + 2 + tags * 12 + 4
offsets_at, counts_at = arrays, arrays + 4 * strips
data = counts_at + 4 * strips
def entry(tag, kind, count, value):
    return struct.pack('<HHII', tag, kind, count, value) if kind == 4 else struct.pack('<HHIHH', tag, kind, count, value, 0)
with open(path, 'wb') as f:
    f.write(b'II' + struct.pack('<HI', 42, ifd))
    f.write(struct.pack('<H', tags))
    f.write(entry(256, 4, 1, w) + entry(257, 4, 1, h) + entry(258, 3, 1, 8) + entry(259, 3, 1, 1))
    f.write(entry(262, 3, 1, 1) + entry(273, 4, strips, offsets_at) + entry(277, 3, 1, 1))
    f.write(entry(278, 4, 1, rps) + entry(279, 4, strips, counts_at) + struct.pack('<I', 0))
    f.write(b''.join(struct.pack('<I', data + s * rps * w) for s in range(strips)))
    f.write(b''.join(struct.pack('<I', min(rps, h - s * rps) * w) for s in range(strips)))
    rows = [bytes((x + 3 * r) % 256 for x in range(w)) for r in range(256)]
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

printf "%-28s %10s %12s %10s %12s %8s\n" "conversion" "rastik s" "rastik MiB" "vips s" "vips MiB" "ratio"
for ext in $formats; do
  r=$(measure "$rastik" convert --plane-cap 64M "$work/big.tif" "$work/out.$ext")
  rm -f "$work/out.$ext"
  v="failed"
  if command -v vips >/dev/null; then
    v=$(measure vips copy "$work/big.tif" "$work/vips.$ext")
    rm -f "$work/vips.$ext"
  fi
  rs=${r% *} rm_=${r#* } vs=${v% *} vm=${v#* }
  ratio=-
  if [ "$r" != failed ] && [ "$v" != failed ]; then ratio=$(awk -v a="$rs" -v b="$vs" 'BEGIN { printf "%.2f", a / b }'); fi
  if [ "$r" = failed ]; then rs=failed rm_=0; fi
  if [ "$v" = failed ]; then vs=- vm=0; fi
  printf "%-28s %10s %12d %10s %12d %8s\n" "${width}x$height grey -> .$ext" "$rs" $((rm_ / 1024)) "$vs" $((vm / 1024)) "$ratio"
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
