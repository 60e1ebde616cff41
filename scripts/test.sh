#!/usr/bin/env bash
# The whole test suite: builds and tests once plainly and once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs every fuzz
# target briefly on its seeds; any failure, sanitizer report or fuzzing
# finding fails the run. RASTIK_FUZZ_SMOKE_SECONDS sets the seconds per fuzz
# target (default 30; 0 leaves the fuzz smoke out).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

run_suite() {
  local dir=$1; shift
  echo "== build $dir" >&2
  "$root/scripts/build.sh" "$dir" "$@"
  echo "== test $dir" >&2
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
}

run_suite "$root/build"

# The installed headers, libraries and pkg-config files serve a host build.
echo "== install check" >&2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$root/build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib/x86_64-linux-gnu/pkgconfig"
g++ -std=c++20 -Wall -Wextra -Werror "$root/examples/host_example.cpp" -o "$prefix/host_example" \
  $(pkg-config --cflags --libs rastik) -Wl,-rpath,"$prefix/lib"
pkg-config --exists chronik
"$prefix/bin/rastik" info "$root/samples/sample.bmp" >/dev/null
echo "install check passed" >&2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build-sanitize" -DRASTIK_SANITIZE=ON

smoke=${RASTIK_FUZZ_SMOKE_SECONDS:-30}
if [[ $smoke != 0 ]]; then
  echo "== fuzz smoke, $smoke s per target" >&2
  "$root/scripts/fuzz.sh" --smoke "$smoke"
fi
