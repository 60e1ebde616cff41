#!/bin/sh
# Threads inside one conversion, on a photo-sized RGB image (4000 x 2144):
#   (a) against the same conversion with --threads 1: the typical road (an
#       LZW TIFF into a half-size JPEG), BMP to JPEG at quality 70, a
#       Deflate TIFF into an LZW TIFF (skipped while rastik does not read
#       Deflate TIFF) and 256 colours;
#   (b) against the peers on their own threads: the typical road against
#       `vips resize`, LZW TIFF read + BMP write, LZW TIFF write and PNG
#       write against ImageMagick's `convert`.
# Each line gives the best wall time of $runs runs (for (a) the two sides
# taking turns), the ratio and its
# target, and the peak memory of both sides (for (a) the growth, which may
# be at most one band per thread). The load average is printed before and
# after, with what two threads are worth on the machine at that moment:
# the ratios mean something only on an otherwise idle machine.
# Usage: bench/threads_bench.sh [BUILD_DIR] [THREADS]   (default: build
# beside this folder, one thread per processor)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
threads=${2:-0}
tool=$build/rastik
convert=/usr/bin/convert
vips=/usr/bin/vips
width=4000
height=2144
runs=${RUNS:-3}

for need in "$tool" "$convert" "$vips"; do
    if [ ! -x "$need" ]; then
        echo "missing $need (build the rastik tool; install ImageMagick and libvips-tools)" >&2
        exit 2
    fi
done

# The files lie in memory (/dev/shm where there is one, unless TMPDIR says
# otherwise): on a disk, the page cache may drop them between runs, and a
# run that reads them back from the disk times the disk, not the threads.
memory=/dev/shm
[ -d "$memory" ] && [ -w "$memory" ] || memory=/tmp
work=$(mktemp -d "${TMPDIR:-$memory}/threadsbench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

. "$here/timing.sh"
many_flag=""
[ "$threads" != 0 ] && many_flag="--threads $threads"
load() { cut -d' ' -f1-3 /proc/loadavg; }

photo=$work/photo.bmp
"$convert" -size ${width}x${height} -seed 1 plasma:fractal -blur 0x2 -depth 8 -type TrueColor "$photo"
"$convert" "$photo" -compress lzw "$work/lzw.tif"
"$convert" "$photo" -compress zip "$work/deflate.tif"
echo "image: ${width} x ${height} RGB; processors: $(nproc); threads: ${threads} (0: one per processor)"
echo "load average before: $(load)"
# What the machine gives two threads now: two checksums at once against one
# after the other (0.5 on an idle two-core machine, 1.0 when only one core
# is to be had). The ratios below cannot beat it.
calibrate() {
    set -- $(measure sh -c "sha256sum '$photo' '$photo' >/dev/null")
    serial=$1
    set -- $(measure sh -c "sha256sum '$photo' >/dev/null & sha256sum '$photo' >/dev/null; wait")
    echo "two threads' worth now: $(ratio "$1" "$serial") (two checksums at once against one after the other)"
}
calibrate

# The smaller of two wall or CPU figures.
least() { awk "BEGIN{printf \"%.4f\", ($1 < $2) ? $1 : $2}"; }

# label, target ratio, rastik arguments...: --threads 1 against $threads.
# The two take turns, run by run, so that a drift of the machine's speed
# (its memory, its neighbours) reaches both alike; each keeps its best.
against_one() {
    label=$1 target=$2
    shift 2
    total=$runs runs=1
    w1=999 w2=999
    for _ in $(seq "$total"); do
        read -r w c m1 <<EOF
$(measure "$tool" convert --threads 1 "$@")
EOF
        w1=$(least "$w" "$w1")
        # shellcheck disable=SC2086
        read -r w c m2 <<EOF
$(measure "$tool" convert $many_flag "$@")
EOF
        w2=$(least "$w" "$w2")
    done
    runs=$total
    grow=$(( m2 - m1 ))
    [ "$grow" -ge 0 ] && grow="+$grow"
    echo "$label: threads 1 ${w1}s ${m1} kB, threads $threads ${w2}s ${m2} kB (${grow} kB):" \
         "ratio $(ratio "$w2" "$w1") (target <= $target)"
}

# label, target ratio, rastik arguments (up to "--"), then the peer's command.
against_peer() {
    label=$1 target=$2
    shift 2
    ours=""
    while [ "$1" != "--" ]; do ours="$ours $1"; shift; done
    shift
    # shellcheck disable=SC2086
    set -- $(measure "$tool" convert $many_flag $ours) "$@"
    ow=$1 om=$3
    shift 3
    set -- $(measure "$@")
    echo "$label: rastik ${ow}s ${om} kB, theirs ${1}s ${3} kB: ratio $(ratio "$ow" "$1") (target <= $target)"
}

echo "-- against the same conversion with --threads 1"
against_one "typical road, LZW TIFF to half-size JPEG" 0.6 --width 2000 "$work/lzw.tif" "$work/half.jpg"
against_one "BMP to JPEG at quality 70" 0.6 --quality 70 "$photo" "$work/q70.jpg"
if "$tool" convert "$work/deflate.tif" "$work/probe.bmp" >/dev/null 2>&1; then
    against_one "Deflate TIFF to LZW TIFF" 0.6 --compression lzw "$work/deflate.tif" "$work/lzw-out.tif"
else
    echo "Deflate TIFF to LZW TIFF: skipped (rastik does not read Deflate TIFF yet)"
fi
against_one "256 colours" 0.75 --mode indexed "$photo" "$work/indexed.bmp"

echo "-- against the peers on their own threads"
against_peer "typical road vs vips resize" 0.8 --width 2000 "$work/lzw.tif" "$work/half.jpg" -- \
    "$vips" resize "$work/lzw.tif" "$work/vips-half.jpg[Q=70]" 0.5
against_peer "LZW TIFF read + BMP write vs convert" 0.5 "$work/lzw.tif" "$work/out.bmp" -- \
    "$convert" "$work/lzw.tif" "$work/theirs.bmp"
against_peer "LZW TIFF write vs convert -compress lzw" 0.5 --compression lzw "$photo" "$work/out.tif" -- \
    "$convert" "$photo" -compress lzw "$work/theirs.tif"
against_peer "PNG write vs convert" 0.6 "$photo" "$work/out.png" -- \
    "$convert" "$photo" "$work/theirs.png"
calibrate
echo "load average after: $(load)"
