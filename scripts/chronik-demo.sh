#!/usr/bin/env bash
# Writes a day of sample diagnostic events into a temporary store directory
# with the chronik tool, then reads the day back: every fault occurrence is
# listed with the time it was cleared.
#   scripts/chronik-demo.sh [BUILD_DIR]   (default: build/, built when missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
tool=$build/chronik
if [ ! -x "$tool" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target chronik_tool -j2 >/dev/null
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/chronik-demo-XXXXXX")
trap 'rm -rf "$dir"' EXIT

# Event codes: station events are A<<16 | K<<9 | F<<1 | 1, module events
# A<<21 | cage<<17 | slot<<9 | F<<1; bit 31 marks the clear.
station() { printf '0x%x' $(( ($4 << 31) | ($1 << 16) | ($2 << 9) | ($3 << 1) | 1 )); }
module()  { printf '0x%x' $(( ($5 << 31) | ($1 << 21) | ($2 << 17) | ($3 << 9) | ($4 << 1) )); }
day=2024-03-01
at() { echo "$day $1"; }
put() { "$tool" write --time "$(at "$1")" "$dir" "$2" "${@:3}"; }

put 00:00:01 2 0                                        # diagnostic server started
put 00:00:02 2 "$(station 2 0 15 0)"                    # controller 02 working (a notice)
for h in 02 06 10 14 18 22; do
  put "$h:10:00" 2 "$(station 2 9 1 0)"                 # bus 0 of controller 02 fails
  put "$h:25:30" 2 "$(station 2 9 1 1)"                 # ... and recovers
done
put 08:15:00 4 "$(module 4 1 3 32 0)" "$(module 4 1 4 16 0)"   # two I/O cards of station 04
put 09:05:00 4 "$(module 4 1 3 32 1)"                   # the first one is cleared
put 11:00:00 6 "$(station 6 35 16 0)"                   # data-forwarding card 03 of station 06
put 12:30:00 3 "$(station 3 15 4 0)"                    # 24 V supply 1
put 12:31:10 3 "$(station 3 15 4 1)"
put 16:45:00 5 "$(station 5 7 5 0)"                     # configuration mismatch, station 04
put 17:02:00 5 "$(station 5 7 2 1)"                     # cleared with other low flag bits
put 20:00:00 8 "$(station 8 127 0 0)"                   # controller 08 not answering
put 23:59:59 2 4294967295                               # diagnostic server stopped

echo "== chronik read $dir \"$(at 00:00:00)\" \"$(at 23:59:59)\""
"$tool" read "$dir" "$(at 00:00:00)" "$(at 23:59:59)"
echo
echo "== the same for station 04 only (nodes 4 and 5), as JSON"
"$tool" read --station 4 --json "$dir" "$(at 00:00:00)" "$(at 23:59:59)"
