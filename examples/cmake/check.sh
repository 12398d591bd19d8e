#!/usr/bin/env bash
# Builds the CMake example from the installed package and checks the library
# it keeps: vorna is installed from BUILD_DIR into a scratch prefix, and the
# example is configured with Ninja in a build directory whose path holds a
# blank and built with -j8. After the first build, and after three sources
# have changed, two have gone and four have come, the library must hold
# exactly the modules of the sources, in the order of their names, byte for
# byte as written (a module name with a quote included); a build that fails
# must leave the library as it was, and a last build must find no work to do.
# A second build tree of the same sources, whose modules are written anew at
# other times, must give the same library but for the module times
# (vornadump --diff --ignore-times, which shows what else differs).
#
#   examples/cmake/check.sh [BUILD_DIR]     (default: build)
#
# Exits 77 (skipped) when ninja is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
command -v ninja >/dev/null || { echo "skipped: ninja is not installed"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
source "$here/../library_check.sh"

work=$build/cmake-example
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -R "$here/CMakeLists.txt" "$here/src" "$work"
tree="$work/build tree"
vorna=$work/prefix/bin/vorna
unset VORNA TMP

build_example() {
  cmake --build "$tree" -j8 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the $round build"; }
}

# The library must hold the modules of the sources, in the order of their names.
check_library_of_sources() {
  local modules=()
  while IFS= read -r source; do modules+=("$tree/${source%.src}.QOB"); done < <(cd "$work/src" && ls *.src | LC_ALL=C sort)
  check_library "$vorna" "$tree/lib/EXAMPLE.LIB" "${modules[@]}" || fail "after the $round build"
}

round=first
cmake -S "$work" -B "$tree" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DMODULE_WRITER="$build/make_example_modules" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure"; }
build_example
check_library_of_sources

round=second
cd "$work/src"
for source in BOOT CONSOLE SQRT; do echo "code 5A" >>"$source.src"; done
rm MULDIV.src TIMER.src
# The last one's name holds a quote, which the command file must carry.
for n in 1 2 3 4; do
  name=ADDED$n
  [[ $n == 4 ]] && name="ADDED'4"
  printf 'title new module\npublic NEW_%s\nextern BOOT\ncode %02d\n' "$n" "$n" >"$name.src"
done
cd "$work"
build_example
check_library_of_sources

# A module that defines a symbol another one defines: the build fails, and
# the library of the last build stays as it was.
round=failing
cp "$tree/lib/EXAMPLE.LIB" "$work/last.LIB"
printf 'public NEW_1\n' >"$work/src/CLASH.src"
if cmake --build "$tree" -j8 >"$work/build.log" 2>&1; then fail "a build with a clash of symbols succeeded"; fi
grep -q 'is multiple defined in' "$work/build.log" || { cat "$work/build.log"; fail "the failing build"; }
cmp "$work/last.LIB" "$tree/lib/EXAMPLE.LIB" || fail "the failed build changed the library"
rm "$work/src/CLASH.src"
build_example
check_library_of_sources

round=third
cmake --build "$tree" -j8 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the third build"; }
grep -q 'no work to do' "$work/build.log" || { cat "$work/build.log"; fail "the third build had work to do"; }
round=again
again="$work/build again"
sleep 1
cmake -S "$work" -B "$again" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DMODULE_WRITER="$build/make_example_modules" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configure the second tree"; }
cmake --build "$again" -j8 >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the second tree's build"; }
"$work/prefix/bin/vornadump" --diff --ignore-times "$tree/lib/EXAMPLE.LIB" "$again/lib/EXAMPLE.LIB" >"$work/diff.log" 2>&1 ||
  { cat "$work/diff.log"; fail "the second tree's library differs from the first's in more than the module times"; }
echo "cmake example: 5 modules, then 3 changed, 2 removed and 4 added, each time exactly in the library (ninja -j8);"
echo "  a second build tree gives the same library but for the module times"
