#!/usr/bin/env bash
# Builds the Meson example with Meson and Ninja and checks the library it
# keeps: the example is set up in a build directory whose path holds a blank,
# with the vorna and the module writer of BUILD_DIR. After the first build,
# and after three sources have changed, two have gone and four have come (one
# named with a blank, one with a quote), the library must hold exactly the
# modules of the sources, in the order of their names, byte for byte as
# written; a third build must find no work to do, and one after meson.build
# was touched must leave the library as it is.
#
#   examples/meson/check.sh [BUILD_DIR]     (default: build)
#
# Exits 77 (skipped) when meson or ninja is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
command -v meson >/dev/null || { echo "skipped: meson is not installed"; exit 77; }
command -v ninja >/dev/null || { echo "skipped: ninja is not installed"; exit 77; }
source "$here/../library_check.sh"
fail() { echo "FAILED: $*"; exit 1; }

work=$build/meson-example
rm -rf "$work"
mkdir -p "$work/source"
cp -R "$here/meson.build" "$here/meson_options.txt" "$here/modules.vorna.in" "$here/src" "$work/source"
tree="$work/build tree"
unset VORNA TMP

# The stems of the sources, in the order of their names.
stems() { (cd "$work/source/src" && ls -- *.src | LC_ALL=C sort | sed 's/\.src$//'); }

# meson.build lists the sources by hand, as Meson wants it: the list between
# "sources = [" and "]" is written anew from src/, a quote escaped.
list_sources() {
  LIST=$(stems | sed "s/'/\\\\'/g; s/.*/  '&',/") awk '
    /^sources = \[/ { print; print ENVIRON["LIST"]; skipping = 1; next }
    skipping && /^\]/ { skipping = 0 }
    !skipping' "$work/source/meson.build" >"$work/meson.build.new"
  mv "$work/meson.build.new" "$work/source/meson.build"
}

build_and_check() {
  local modules=()
  ninja -C "$tree" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the $round build"; }
  mapfile -t modules < <(stems | sed "s|.*|$tree/&.QOB|")
  check_library "$build/vorna" "$tree/EXAMPLE.LIB" "${modules[@]}" || fail "after the $round build"
}

round=first
meson setup "$tree" "$work/source" -Dvorna="$build/vorna" -Dmodule_writer="$build/make_example_modules" \
  >"$work/setup.log" 2>&1 || { cat "$work/setup.log"; fail "meson setup"; }
build_and_check

round=second
cd "$work/source/src"
for source in FIFO START UART; do echo "code 5A" >>"$source.src"; done
rm CRC16.src PRINTF.src
n=0
for stem in ADDED1 ADDED2 "MY TIMER" "O'NEIL"; do
  n=$((n + 1))
  printf 'title new module\npublic NEW_%s\nextern START\ncode %02d\n' "$n" "$n" >"$stem.src"
done
list_sources
build_and_check

round=third
ninja -C "$tree" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the third build"; }
grep -q 'no work to do' "$work/build.log" || { cat "$work/build.log"; fail "the third build had work to do"; }

# Meson sets the build up again when meson.build changes; the command file
# keeps its text and its time, and the library stays (a library made again
# would be a new file).
library=$(stat -c %i "$tree/EXAMPLE.LIB")
touch "$work/source/meson.build"
ninja -C "$tree" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the build after meson.build was touched"; }
[[ $(stat -c %i "$tree/EXAMPLE.LIB") == "$library" ]] || { cat "$work/build.log"; fail "the library was made again after meson.build was touched"; }
echo "meson example: 5 modules, then 3 changed, 2 removed and 4 added, each time exactly in the library"
