#!/usr/bin/env bash
# The main job on the bundled sample: builds the libraries and tools, converts
# the sample image with rastik, and writes and reads a day of diagnostic
# events with chronik.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$root/build" >/dev/null
export PATH="$root/build:$PATH"
for part in rastik chronik; do
  script="$root/scripts/$part-demo.sh"
  if [ -x "$script" ]; then
    echo "== $part"
    "$script"
  fi
done
