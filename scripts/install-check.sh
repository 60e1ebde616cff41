#!/usr/bin/env bash
# Installs a build configured with the prefix /usr into a staging directory
# (DESTDIR) and checks it as a packager and a host would meet it:
#   - the libraries export only what their installed headers declare;
#   - the pkg-config files give the staged prefix, library and include
#     folders (Debian's multiarch library folder under /usr);
#   - the host examples build with pkg-config and with find_package against
#     the imported targets, and run.
# Usage: scripts/install-check.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/rastik-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT
fail() { echo "install check: $*" >&2; exit 1; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ "$prefix" = /usr ] || fail "$build is configured for prefix $prefix, not /usr"
DESTDIR=$stage cmake --install "$build" >/dev/null
multiarch=$(gcc -print-multiarch)
libdir=$stage/usr/lib/$multiarch
[ -f "$libdir/librastik.so" ] && [ -f "$libdir/libchronik.so" ] || fail "libraries not in $libdir"

# Exported symbols: each names something an installed header of the library
# declares (the standard library's template instances aside).
check_exports() {
  local lib=$1; shift
  local declared exported extra
  declared=$(cat "$@" | grep -ohE '\b[A-Za-z_][A-Za-z0-9_]*\b' | sort -u)
  exported=$(nm -D --defined-only "$libdir/lib$lib.so" | c++filt | cut -d' ' -f3- |
    sed -E 's/^(typeinfo name for|typeinfo for|vtable for) //' |
    grep -vE '^(std::|__gnu_cxx::|_init$|_fini$)' | sed -E 's/[(<:[ ].*//' | sort -u)
  extra=$(comm -23 <(echo "$exported") <(echo "$declared"))
  [ -z "$extra" ] || fail "lib$lib.so exports what no installed header declares: $(echo $extra)"
}
inc=$stage/usr/include
check_exports rastik "$inc"/rastik/*.h "$inc"/platform/*.h
check_exports chronik "$inc"/chronik/*.h
for internal in CFileFind MakeTempFileName _lread GetTickCount; do
  nm -D --defined-only "$libdir/librastik.so" | c++filt | grep -q "$internal" && fail "librastik.so exports $internal"
done

# pkg-config, as a host on the machine would call it (the files find their
# prefix from where they lie, so the staged copy resolves to the stage).
export PKG_CONFIG_PATH=$libdir/pkgconfig
for lib in rastik chronik; do
  got=$(realpath -m "$(pkg-config --variable=libdir $lib)")
  [ "$got" = "$libdir" ] || fail "pkg-config $lib libdir is $got, not $libdir"
  got=$(realpath -m "$(pkg-config --variable=includedir $lib)")
  [ "$got" = "$stage/usr/include" ] || fail "pkg-config $lib includedir is $got"
done
hosts=$stage/hosts
mkdir -p "$hosts"
g++ -std=c++20 -Wall -Wextra -Werror "$root/examples/host_example.cpp" -o "$hosts/host_example" \
  $(pkg-config --cflags --libs rastik) -Wl,-rpath,"$libdir"
g++ -std=c++20 -Wall -Wextra -Werror "$root/examples/chronik_example.cpp" -o "$hosts/chronik_example" \
  $(pkg-config --cflags --libs chronik) -Wl,-rpath,"$libdir"
"$hosts/host_example" "$root/samples/sample.bmp" "$hosts/half.bmp" >/dev/null
mkdir "$hosts/store"
"$hosts/chronik_example" "$hosts/store" | grep -q . || fail "chronik_example read nothing back"

# find_package and the imported targets.
cmake -S "$root/tests/install" -B "$hosts/cmake" -DCMAKE_PREFIX_PATH="$stage/usr" \
  -DEXAMPLES_DIR="$root/examples" -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$hosts/cmake" >/dev/null
"$hosts/cmake/host_example" "$root/samples/sample.bmp" "$hosts/half2.bmp" >/dev/null
"$hosts/cmake/chronik_example" "$hosts/store" >/dev/null

# No library search path, built or installed, holds an empty entry: that
# would search the current folder for every library.
for file in "$libdir"/librastik.so "$libdir"/libchronik.so "$stage"/usr/bin/* "$build"/rastik "$build"/chronik \
  "$build"/librastik.so "$build"/libchronik.so; do
  [ -e "$file" ] || continue
  path=$(readelf -d "$file" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')
  case ":$path:" in *::*) [ -z "$path" ] || fail "$file searches the current folder for libraries ($path)" ;; esac
done

"$stage/usr/bin/rastik" --version >/dev/null
"$stage/usr/bin/chronik" --version >/dev/null
echo "install check passed" >&2
