#!/usr/bin/env bash
# Runs the make example under make -j4 in BUILD_DIR/make-example and checks
# the library it keeps: after the first build, and after two sources have
# changed and six new ones have come, the library holds exactly one module for
# each source, byte for byte the module made from it. Then it builds the
# library twice more from scratch with SOURCE_DATE_EPOCH set, in two time
# zones and from modules of different times, and checks that both builds give
# the same library byte for byte; when they do not, vornadump --diff shows
# what differs.
#
#   examples/make/check.sh [BUILD_DIR]     (default: build)
#
# Uses BUILD_DIR/vorna (or the program in VORNA_EXE), BUILD_DIR/vornadump (or
# VORNADUMP_EXE) and BUILD_DIR/make_example_modules. Exits 77 (skipped) when
# make is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
vorna=$(realpath "${VORNA_EXE:-$build/vorna}")
vornadump=$(realpath "${VORNADUMP_EXE:-$build/vornadump}")
command -v make >/dev/null || { echo "skipped: make is not installed"; exit 77; }

work=$build/make-example
rm -rf "$work"
mkdir -p "$work/tmp"
cp -R "$here"/startup "$here"/string "$here"/math "$here"/Makefile "$work"
cd "$work"
unset VORNA TMP SOURCE_DATE_EPOCH
build_library() {
  make -j"${jobs:-4}" --no-print-directory VORNA_EXE="$vorna" MODULE_WRITER="$build/make_example_modules" \
    >make.log 2>&1 || { cat make.log; echo "FAILED: make $round"; exit 1; }
}
check_library() {
  rm -rf out && mkdir out
  (cd out && "$vorna" -x -o ../lib/EXAMPLE.LIB >../extract.log 2>&1) || { cat extract.log; exit 1; }
  local want have
  want=$(find . -path ./out -prune -o -name '*.src' -printf '%f\n' | sed 's/\.src$/.QOB/' | sort)
  have=$(ls out | sort)
  if [[ $have != "$want" ]]; then
    echo "FAILED after the $round build: the library holds"
    echo "  $(echo $have)"
    echo "instead of"
    echo "  $(echo $want)"
    cat make.log
    exit 1
  fi
  for module in */*.QOB; do
    [[ $module == out/* ]] || cmp "$module" "out/${module##*/}" || { echo "FAILED after the $round build"; exit 1; }
  done
}

round=first
build_library
check_library
make -q VORNA_EXE="$vorna" MODULE_WRITER="$build/make_example_modules" ||
  { echo "FAILED: make finds work left after the first build"; exit 1; }

# vorna keeps module times to the second: the changed modules are written at
# least a second after the first ones, or -ru would keep the old ones.
sleep 1
round=second
echo "code 5A" >>string/STRING.src
echo "code 5B" >>math/SQRT.src
for dir in startup string math; do
  for n in 1 2; do
    printf 'title new module\npublic %s_%s\nextern MULDIV\ncode %02d\n' "${dir^^}" "$n" "$n" >"$dir/${dir^^}$n.src"
  done
done
# The working files go to TMP this time (to the current directory the first time).
TMP=$work/tmp build_library
check_library

# Reproducible builds. Each is a serial make: under make -j the modules are
# appended in the order in which their jobs end. The second build's modules
# are older than the first's (both after the epoch), and its sources older
# still, so that make keeps them; JST-9 is Tokyo's time, nine hours ahead of
# UTC, as a TZ value that needs no time zone files.
round=reproducible
for tz in UTC0 JST-9; do
  mkdir "$work/build-$tz"
  cp -R "$here"/startup "$here"/string "$here"/math "$here"/Makefile "$work/build-$tz"
  cd "$work/build-$tz"
  if [[ $tz == JST-9 ]]; then
    sources=(*/*.src)
    make --no-print-directory MODULE_WRITER="$build/make_example_modules" "${sources[@]/%.src/.QOB}" \
      >make.log 2>&1 || { cat make.log; exit 1; }
    touch -d @1710000000 */*.src
    touch -d @1750000000 */*.QOB
  fi
  jobs=1 SOURCE_DATE_EPOCH=1700000000 TZ=$tz build_library
  check_library
done
if ! cmp -s "$work/build-UTC0/lib/EXAMPLE.LIB" "$work/build-JST-9/lib/EXAMPLE.LIB"; then
  "$vornadump" --diff "$work/build-UTC0/lib/EXAMPLE.LIB" "$work/build-JST-9/lib/EXAMPLE.LIB" || true
  echo "FAILED: two builds with SOURCE_DATE_EPOCH set give different libraries"
  exit 1
fi
echo "make example: 5 modules, then 2 changed and 6 new ones, all in the library (make -j4);"
echo "  with SOURCE_DATE_EPOCH the same library in two time zones"
