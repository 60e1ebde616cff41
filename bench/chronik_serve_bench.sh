#!/usr/bin/env bash
# Load test of the event server on loopback: starts `chronik serve` on a free
# port over a fresh store, then 50 clients make 200 requests each (the page's
# polls, one station's events, the page) while a writer appends 20 batches a
# second for the whole run. Prints requests per second and latency
# percentiles, the writer's Write times, and whether every acknowledged
# event is listed at the end; fails when a request or a Write failed or an
# event is missing.
#   bench/chronik_serve_bench.sh [BUILD_DIR] [chronik_serve_load options]
#   (--clients N --requests N --batches N --history MINUTES --distinct 1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target chronik_tool chronik_serve_load -j2 >/dev/null

dir=$(mktemp -d "${TMPDIR:-/tmp}/chronik-serve-bench-XXXXXX")
server=""
cleanup() {
  if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; fi
  rm -rf "$dir" "$dir.out"
}
trap cleanup EXIT

"$build/chronik" serve --listen 127.0.0.1:0 "$dir" >"$dir.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  grep -q ' at http://' "$dir.out" && break
  sleep 0.05
done
port=$(sed -n 's|.* at http://127\.0\.0\.1:\([0-9]*\)/$|\1|p' "$dir.out")
[ -n "$port" ] || { cat "$dir.out" >&2; exit 1; }
echo "server: $(cat "$dir.out")"

status=0
"$build/bench/chronik_serve_load" --port "$port" --dir "$dir" "$@" || status=$?
kill -TERM "$server"
wait "$server" || { echo "the server did not stop cleanly" >&2; status=1; }
server=""
exit $status
