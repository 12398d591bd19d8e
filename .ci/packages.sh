#!/usr/bin/env bash
# Install and packages: installs the build into a scratch prefix, builds the
# Linux packages (.deb and .tar.gz) with CPack, unpacks the .deb into a
# scratch root and runs the installed programs on the shipped example, and
# reads the installed manual page with man.
#
#   .ci/packages.sh [BUILD_DIR]      (default build, configured and built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
scratch=$build/package-check
rm -rf "$scratch" "$build/packages"
mkdir -p "$scratch"
fail() { echo "FAILED: $*"; exit 1; }

# The files and links a tree holds, relative to it, sorted.
files_of() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | sort | paste -sd' ' -); }

echo "== cmake --install"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
package="lib/cmake/Vorna/VornaConfig.cmake lib/cmake/Vorna/VornaConfigVersion.cmake lib/cmake/Vorna/VornaTargets-release.cmake lib/cmake/Vorna/VornaTargets.cmake"
manuals="share/man/man1/vorna.1 share/man/man1/vornadump.1"
bazel="share/vorna/bazel/BUILD.bazel share/vorna/bazel/WORKSPACE share/vorna/bazel/defs.bzl share/vorna/bazel/vorna"
[[ $(files_of "$scratch/prefix") == "bin/vorna bin/vornadump $package $manuals $bazel" ]] ||
  fail "the install holds: $(files_of "$scratch/prefix")"
# The Bazel repository runs the program of its own install.
[[ $(readlink "$scratch/prefix/share/vorna/bazel/vorna") == ../../../bin/vorna ]] ||
  fail "share/vorna/bazel/vorna leads to $(readlink "$scratch/prefix/share/vorna/bazel/vorna")"

echo "== packages"
log=$(cd "$build" && cpack 2>&1) || { echo "$log"; fail "cpack"; }
deb=$(echo "$build"/packages/vorna_*_amd64.deb)
tgz=$(echo "$build"/packages/vorna-*-Linux.tar.gz)
[[ -f $deb && -f $tgz ]] || fail "missing packages: $(ls "$build/packages")"
dpkg-deb --field "$deb" Package Version Depends
dpkg -x "$deb" "$scratch/root"
[[ $(files_of "$scratch/root") == "usr/bin/vorna usr/bin/vornadump ${package//lib/usr/lib} ${manuals//share/usr/share} ${bazel//share/usr/share}" ]] ||
  fail "the .deb holds: $(files_of "$scratch/root")"
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
top=$(basename "$tgz" .tar.gz)
[[ $(files_of "$scratch/tgz") == "$top/bin/vorna $top/bin/vornadump ${package//lib/$top/lib} ${manuals//share/$top/share} ${bazel//share/$top/share}" ]] ||
  fail "the .tar.gz holds: $(files_of "$scratch/tgz")"
cmp "$scratch/root/usr/bin/vorna" "$scratch/tgz/$top/bin/vorna"
cmp "$scratch/root/usr/bin/vornadump" "$scratch/tgz/$top/bin/vornadump"
for tree in "$scratch/root/usr" "$scratch/tgz/$top"; do
  cmp "$tree/bin/vorna" "$tree/share/vorna/bazel/vorna" || fail "$tree/share/vorna/bazel/vorna is not the program"
done

echo "== the installed program on the shipped example"
out=$(VORNA_EXE="$scratch/root/usr/bin/vorna" examples/demo.sh "$build" 2>&1)
[[ $(grep -c '^MODULE COUNT         000003$' <<<"$out") == 2 ]] || fail "the demo with the installed program: $out"
grep -q 'STRCPY\.\.*  *STRING\.QOB' "$build/demo/DEMO.LST" || fail "DEMO.LST lists no STRCPY of STRING.QOB"
"$scratch/root/usr/bin/vornadump" --check "$build/demo/DEMO.LIB" | grep -qx "$build/demo/DEMO.LIB: no violations" ||
  fail "the installed vornadump does not find DEMO.LIB clean"
echo "demo: 3 modules appended and listed by $scratch/root/usr/bin/vorna, checked by vornadump"

echo "== find_package(Vorna) from the unpacked .deb"
probe=$scratch/probe
mkdir -p "$probe"
cat >"$probe/CMakeLists.txt" <<'PROBE'
cmake_minimum_required(VERSION 3.20)
project(probe NONE)
find_package(Vorna 4 CONFIG REQUIRED)
get_target_property(vorna Vorna::vorna LOCATION)
get_target_property(vornadump Vorna::vornadump LOCATION)
message(STATUS "vorna=${vorna} vornadump=${vornadump}")
PROBE
found=$(cmake -S "$probe" -B "$probe/build" -DCMAKE_PREFIX_PATH="$scratch/root/usr" 2>&1) || { echo "$found"; fail "find_package(Vorna)"; }
grep -qF "vorna=$scratch/root/usr/bin/vorna vornadump=$scratch/root/usr/bin/vornadump" <<<"$found" ||
  fail "find_package(Vorna) names other programs: $found"

echo "== man vorna and man vornadump from the installed tree"
MANPATH="$scratch/root/usr/share/man" MANWIDTH=80 man vorna 2>&1 | grep -q "keep libraries of relocatable object modules" ||
  fail "man vorna does not show the installed page"
MANPATH="$scratch/root/usr/share/man" MANWIDTH=80 man vornadump 2>&1 | grep -q "show and check libraries and relocatable modules" ||
  fail "man vornadump does not show the installed page"
echo "packages: $(cd "$build/packages" && ls vorna* | paste -sd' ' -)"
