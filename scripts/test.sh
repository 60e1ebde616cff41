#!/usr/bin/env bash
# The whole test suite, as CI runs it, warnings as errors throughout:
#   1. build and test (RelWithDebInfo, g++); the tests must leave nothing in
#      the temporary directory or in their working directory (artifacts, such
#      as the event page's screenshot, go to build/test-artifacts);
#   2. Release builds with g++ (installed into a staging directory and
#      checked as packagers and hosts meet it) and with Debian's clang;
#   3. build and test again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. every fuzz target briefly on its seeds (scripts/fuzz.sh --smoke),
#      RASTIK_FUZZ_SMOKE_SECONDS per target (default 15; 0 leaves it out).
# Any failure, sanitizer report or fuzzing finding fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

run_suite() {
  local dir=$1; shift
  echo "== build $dir" >&2
  "$root/scripts/build.sh" "$dir" -DRASTIK_WERROR=ON "$@"
  echo "== test $dir" >&2
  local tmp before after
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/rastik-suite-XXXXXX")
  before=$(cd "$dir/tests" && find . | sort)
  (cd "$dir" && TMPDIR=$tmp ctest --output-on-failure --no-tests=error -j"$(nproc)" --timeout 600)
  after=$(cd "$dir/tests" && find . -path ./Testing -prune -o -print | sort)
  local left
  left=$(ls -A "$tmp")
  rm -rf "$tmp"
  [ -z "$left" ] || { echo "tests left behind in the temporary directory: $left" >&2; exit 1; }
  left=$(comm -13 <(echo "$before") <(echo "$after"))
  [ -z "$left" ] || { echo "tests left behind in $dir/tests: $left" >&2; exit 1; }
}

# Release builds of the whole tree with one compiler (tests compiled, not run).
release_build() {
  local dir=$1; shift
  echo "== release build $dir" >&2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DRASTIK_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  "$dir/rastik" --version >/dev/null
  "$dir/rastik" convert "$root/samples/sample.bmp" "$dir/sample.jpg" >/dev/null
}

run_suite "$root/build"

release_build "$root/build-release" -DCMAKE_INSTALL_PREFIX=/usr
"$root/scripts/install-check.sh" "$root/build-release"
CC=clang CXX=clang++ release_build "$root/build-clang"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build-sanitize" -DRASTIK_SANITIZE=ON

smoke=${RASTIK_FUZZ_SMOKE_SECONDS:-15}
if [[ $smoke != 0 ]]; then
  echo "== fuzz smoke, $smoke s per target" >&2
  "$root/scripts/fuzz.sh" --smoke "$smoke"
fi
