#!/usr/bin/env bash
# Checks the manual pages doc/vorna.1 and doc/vornadump.1: the man-page linter
# reports nothing, man renders each with all its sections, and every failure
# vorna is made to report here ends with the exit status under which its page
# lists the message.
#
#   tests/manual_test.sh VORNA MAKE_EXAMPLE_MODULES
#
# Exits 77 (skipped) when no linter (mandoc or groff) or no man is installed.
set -euo pipefail
doc=$(cd "$(dirname "$0")/.." && pwd)/doc
page=$doc/vorna.1
vorna=$(realpath "$1")
writer=$(realpath "$2")
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

command -v mandoc >/dev/null || command -v groff >/dev/null ||
  { echo "skipped: neither mandoc nor groff is installed"; exit 77; }
command -v man >/dev/null || { echo "skipped: man is not installed"; exit 77; }

# Rendered wide, so that no message is broken over two lines; overstrikes removed.
render() { MANWIDTH=200 man -l "$1" 2>&1 | sed 's/.\x08//g'; }

# check_page PAGE SECTION...: the linter finds nothing, man shows each section.
check_page() {
  local page=$1 lint rendered section
  shift
  if command -v mandoc >/dev/null; then
    lint=$(mandoc -T lint "$page" 2>&1) || true
  else
    lint=$(groff -man -ww -z "$page" 2>&1) || true
  fi
  [[ -z $lint ]] || fail "the linter reports on ${page##*/}:"$'\n'"$lint"
  rendered=$(render "$page")
  for section in "$@"; do
    grep -qx "$section" <<<"$rendered" || fail "man -l ${page##*/} shows no section $section"
  done
}
check_page "$page" NAME SYNOPSIS DESCRIPTION "COMMAND FILES" ENVIRONMENT FILES "EXIT STATUS" EXAMPLES NOTES
check_page "$doc/vornadump.1" NAME SYNOPSIS DESCRIPTION OPTIONS CHECKS COMPARISON "EXIT STATUS" EXAMPLES
text=$(render "$page")

# The text that the page gives under exit status $1, with the blanks that
# justify its lines squeezed.
under_status() {
  awk -v s="$1" '/^[A-Z]/ { in_exit = ($0 == "EXIT STATUS") }
                 in_exit && /^       [0-9]  / { cur = $1 }
                 in_exit && cur == s' <<<"$text" | tr -s ' '
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$writer" . >/dev/null
"$vorna" -a -o DEMO -f START STRING MATH >/dev/null 2>&1
printf 'no module' >BAD.QOB
LC_ALL=C sed 's/VRN100/VRN999/' DEMO.LIB >OTHER.LIB

# expect STATUS TEXT ARGUMENT...: vorna ARGUMENT... ends with STATUS and prints
# TEXT (on standard output or error), and the page lists TEXT under STATUS.
expect() {
  local want=$1 message=$2 out status=0
  shift 2
  out=$("$vorna" "$@" 2>&1) || status=$?
  [[ $status == "$want" ]] || fail "vorna $* ended with $status, not $want"
  grep -qF -- "$message" <<<"$out" || fail "vorna $* did not print '$message'"
  [[ $message != Usage:* ]] || message="usage text"  # the page does not repeat the usage text
  grep -qF -- "$message" <<<"$(under_status "$want")" || fail "the page lists no '$message' under exit status $want"
}
expect 1 "module is not in the library" -d -o DEMO -f NOPE
expect 1 "is multiple defined in" -a -o DEMO -f MATH
expect 1 "Invarid module or library" -a -o DEMO -f BAD
expect 1 "command file not found" -l -o DEMO @missing.cmd
expect 1 "CPU number error" -l -o OTHER
expect 3 "Can't open" -x -o MISSING
expect 2 "Usage: A>VORNA -[ardxluv]o" -q -o DEMO
printf -- '-l -o DEMO -f "START\n' >open-quote.cmd
expect 2 "unclosed quote in line" @open-quote.cmd
SOURCE_DATE_EPOCH=1.5 expect 2 "is not decimal seconds up to 253402300799" -l -o DEMO

((failures == 0)) || exit 1
echo "manual pages: both linted and rendered; 9 messages of vorna under their exit statuses"
