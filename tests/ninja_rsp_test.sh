#!/usr/bin/env bash
# A library made by Ninja through a response file, as Ninja's manual writes
# the rule (rspfile_content = $in): on a POSIX host Ninja quotes a name that
# holds blanks or quotes as the shell reads it ('My Mods/A B.QOB',
# 'O'\''Brien.QOB'), and every module must reach the library, byte for byte.
# A changed module rebuilds the library anew (--new), and then there is
# nothing to do.
#
#   tests/ninja_rsp_test.sh VORNA MODULE_WRITER WORK_DIR
#
# Exits 77 (skipped) when ninja is missing.
set -euo pipefail
vorna=$1 writer=$2 work=$3
command -v ninja >/dev/null || { echo "skipped: ninja is not installed"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work/src" && cd "$work"
for name in A B C; do printf 'public SYM_%s\ncode 0%s\n' "$name" "$name" >"src/$name.src"; done
cat >build.ninja <<NINJA
rule module
  command = "$writer" \$in \$out
rule library
  command = "$vorna" --new -a -o \$out -f @\$out.rsp
  rspfile = \$out.rsp
  rspfile_content = \$in
build My\$ Mods/A\$ B.QOB: module src/A.src
build My\$ Mods/O'Brien.QOB: module src/B.src
build My\$ Mods/C.QOB: module src/C.src
build APP.LIB: library My\$ Mods/A\$ B.QOB My\$ Mods/O'Brien.QOB My\$ Mods/C.QOB
NINJA

check_library() {
  rm -rf out && mkdir out
  (cd out && "$vorna" -x -o ../APP.LIB >/dev/null 2>&1) || fail "cannot extract APP.LIB"
  [[ $(cd out && ls | LC_ALL=C sort | paste -sd'|' -) == "A B.QOB|C.QOB|O'Brien.QOB" ]] ||
    fail "APP.LIB holds $(ls out)"
  for module in "A B.QOB" "O'Brien.QOB" C.QOB; do
    cmp "My Mods/$module" "out/$module" || fail "$module is not as written"
  done
}

ninja -d keeprsp >build.log 2>&1 || { cat build.log; fail "the first build"; }
grep -qF "'My Mods/O'\\''Brien.QOB'" APP.LIB.rsp || fail "Ninja wrote no quoted name: $(cat APP.LIB.rsp)"
check_library
echo "code 0D" >>src/B.src
ninja >build.log 2>&1 || { cat build.log; fail "the second build"; }
check_library
[[ -f APP.BAK ]] || fail "no backup of the first library"
ninja | grep -q 'no work to do' || fail "the third build found work"
