#!/usr/bin/env bash
# The Windows leg: cross-builds vorna.exe and vornadump.exe with MinGW-w64,
# builds and checks their package (a .zip of both and the manual as HTML),
# and runs the end-to-end tests of the host test binary against them under
# Wine (every library those tests read back is checked by vornadump.exe).
#
#   VORNA_WIN_BUILD   build directory of vorna.exe   (default build-win)
#   VORNA_HOST_BUILD  build directory of the tests   (default build)
#   WINEPREFIX        Wine prefix                    (default <VORNA_WIN_BUILD>/wine)
#
# The unit suites are left out (.ci/e2e-filter.sh); every suite with a
# fixture runs, so new end-to-end suites join by themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine takes a program's ANSI code page from the locale (LC_ALL, LC_CTYPE,
# LANG) and the code of Unix file names from its character set. C.UTF-8,
# which every system has, gives en-US with code page 1252, and file names in
# UTF-8: the tests of names outside the ANSI code page count on both.
export LC_ALL=C.UTF-8

win_build=$(realpath -m "${VORNA_WIN_BUILD:-build-win}")
host_build=$(realpath -m "${VORNA_HOST_BUILD:-build}")
wine=/usr/lib/wine/wine64

missing=()
command -v x86_64-w64-mingw32-g++ >/dev/null || missing+=(g++-mingw-w64-x86-64)
[ -x "$wine" ] || missing+=(wine64)
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v mandoc >/dev/null || missing+=(mandoc)    # the manual of the package, as HTML
command -v unzip >/dev/null || missing+=(unzip)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

echo "== vorna.exe (MinGW-w64)"
[ -f "$win_build/CMakeCache.txt" ] ||
  cmake -S . -B "$win_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
cmake --build "$win_build" --target vorna vornadump -j2

echo "== host tests"
cmake -S . -B "$host_build" -DVORNA_TESTS=ON >/dev/null
cmake --build "$host_build" --target vorna vornadump vorna_tests -j2

echo "== Wine prefix"
export WINEPREFIX=${WINEPREFIX:-$win_build/wine}
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
# One server for the whole leg (unless one runs already), ended with it, or
# half a minute after its last program should the leg be killed.
"$wineserver" -p30 2>/dev/null || true
trap '"$wineserver" -k || true' EXIT
# Wine hands a program the TMP of its registry only; the harness passes the
# TMP of each test in VORNA_WINE_TMP (empty for none).
"$wine" reg add 'HKCU\Environment' /v TMP /t REG_EXPAND_SZ /d '%VORNA_WINE_TMP%' /f >/dev/null

echo "== the Windows package"
log=$(cd "$win_build" && rm -rf packages && cpack 2>&1) || { echo "$log"; exit 1; }
zip=$(echo "$win_build"/packages/vorna-*-win64.zip)
top=$(basename "$zip" .zip)
contents=$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort | paste -sd' ' -)
package="$top/cmake/VornaConfig.cmake $top/cmake/VornaConfigVersion.cmake $top/cmake/VornaTargets-release.cmake $top/cmake/VornaTargets.cmake"
[ "$contents" = "$package $top/vorna.exe $top/vorna.html $top/vornadump.exe $top/vornadump.html" ] ||
  { echo "FAILED: $zip holds $contents"; exit 1; }
rm -rf "$win_build/package-check" && unzip -q "$zip" -d "$win_build/package-check"
grep -q 'Invarid module or library' "$win_build/package-check/$top/vorna.html" ||
  { echo "FAILED: vorna.html holds no list of messages"; exit 1; }
usage_status=0
usage=$("$wine" "$win_build/package-check/$top/vorna.exe" 2>&1) || usage_status=$?
[ "$usage_status" = 2 ] && grep -q '^Usage: A>VORNA' <<<"$usage" ||
  { echo "FAILED: the packaged vorna.exe ended with $usage_status: $usage"; exit 1; }
dump_status=0
dump=$("$wine" "$win_build/package-check/$top/vornadump.exe" 2>&1) || dump_status=$?
[ "$dump_status" = 2 ] && grep -q '^usage: vornadump' <<<"$dump" ||
  { echo "FAILED: the packaged vornadump.exe ended with $dump_status: $dump"; exit 1; }
echo "$(basename "$zip"): $contents; vorna.exe and vornadump.exe run"

echo "== end-to-end tests against vorna.exe under Wine"
# A Japanese locale, for the test of a code page of two bytes (932), made
# from the system's locale sources where it has them; the test is skipped
# without it.
locales=$win_build/locales
if [ ! -d "$locales/ja_JP.UTF-8" ] && command -v localedef >/dev/null && [ -f /usr/share/i18n/locales/ja_JP ]; then
  mkdir -p "$locales"
  localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 || true
fi
if [ -d "$locales/ja_JP.UTF-8" ]; then export VORNA_JA_LOCPATH=$locales; fi
# Wine's C run-time would read a Unix TZ (Europe/Berlin) as a Windows one and
# fall back to UTC; without TZ both sides keep the host's zone.
unset TZ
e2e_suites=$(.ci/e2e-filter.sh)
tests_exe=$host_build/tests/vorna_tests
run_tests() {
  VORNA_EXE="$win_build/vorna.exe" VORNADUMP_EXE="$win_build/vornadump.exe" VORNA_RUNNER="$wine" VORNA_TARGET=windows \
    VORNA_NATIVE_EXE="$host_build/vorna" \
    timeout 300 "$tests_exe" --gtest_filter="$1" --gtest_brief=1
}
run_shard() {
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$1 run_tests "$e2e_suites" >"$win_build/wine-shard$1.log" 2>&1
}
status=0
run_shard 0 & shard0=$!
run_shard 1 & shard1=$!
wait "$shard0" || status=1
wait "$shard1" || status=1
cat "$win_build/wine-shard0.log" "$win_build/wine-shard1.log"
if [ "$status" -ne 0 ]; then
  # Now and then Wine fails to start a program under load; a test that failed
  # is run once more on its own, and only a second failure counts.
  # A parameterised test's line goes on with ", where GetParam() = ...".
  failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_/]*\.[A-Za-z0-9_/.]*\)\( (\|, where\).*/\1/p' \
    "$win_build"/wine-shard[01].log | sort -u | paste -sd: -)
  if [ -n "$failed" ]; then
    echo "== once more: $failed"
    run_tests "$failed" && status=0
  fi
fi
exit "$status"
