#!/usr/bin/env bash
# The whole test suite, as CI runs it, warnings as errors throughout:
#   1. build and test (RelWithDebInfo, g++); the tests must leave nothing in
#      the temporary directory or in their working directory (artifacts, such
#      as the event page's screenshot, go to build/test-artifacts);
#   2. Release builds with g++ (installed into a staging directory and
#      checked as packagers and hosts meet it) and with Debian's clang;
#   3. build and test again under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the threaded tests under ThreadSanitizer (clang, -DRASTIK_TSAN=ON): only
#      the target tsan_tests is built and only the tests labelled tsan run;
#   5. every fuzz target briefly on its seeds (scripts/fuzz.sh --smoke),
#      RASTIK_FUZZ_SMOKE_SECONDS per target (default 15; 0 leaves it out).
# Any failure, sanitizer report or fuzzing finding fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

run_suite() {
  local dir=$1; shift
  echo "== build $dir" >&2
  "$root/scripts/build.sh" "$dir" -DRASTIK_WERROR=ON "$@"
  check_tests "$dir"
}

# Runs the tests of a built directory (extra arguments go to ctest); they must
# leave nothing behind.
check_tests() {
  local dir=$1; shift
  echo "== test $dir" >&2
  local tmp before after
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/rastik-suite-XXXXXX")
  before=$(cd "$dir/tests" && find . | sort)
  (cd "$dir" && TMPDIR=$tmp ctest --output-on-failure --no-tests=error -j"$(nproc)" --timeout 600 "$@")
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

echo "== build $root/build-tsan (ThreadSanitizer)" >&2
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRASTIK_WERROR=ON \
  -DRASTIK_TSAN=ON >/dev/null
cmake --build "$root/build-tsan" --target tsan_tests -j"$(nproc)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 check_tests "$root/build-tsan" -L tsan

smoke=${RASTIK_FUZZ_SMOKE_SECONDS:-15}
if [[ $smoke != 0 ]]; then
  echo "== fuzz smoke, $smoke s per target" >&2
  "$root/scripts/fuzz.sh" --smoke "$smoke"
fi
