#!/usr/bin/env bash
# The layers of the sources point only down, by includes and by calls.
#
#   layers_test.sh SRC_DIR FOLDER=LIBRARY...
#
# Includes are read from the sources: a file of a folder may include only
# from the folders its layer stands on. Calls are read from the built
# libraries, one per layer (FOLDER names it): no library may leave a symbol
# undefined that a library above it or beside it defines. Exit status 77:
# nm is missing.
set -euo pipefail
src=$1
shift
command -v nm >/dev/null || exit 77

# What each folder stands on, itself first.
declare -A may=(
  [host]="host"
  [format]="format host"
  [core]="core format host"
  [intake]="intake core format host"
  [editing]="editing core format host"
  [listing]="listing core format host"
  [driver]="driver intake editing listing core format host"
  [dump]="dump format host"
)
fail=0

for dir in "$src"/*/; do
  folder=$(basename "$dir")
  if [[ ! -v may[$folder] ]]; then
    echo "src/$folder is in no layer"
    fail=1
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")
    if [[ " ${may[$folder]} " != *" $target "* ]]; then
      echo "${file#"$src"/}:$line includes from src/$target, above or beside src/$folder"
      fail=1
    fi
  done < <(grep -Hn '^#include "[^"]*/' "$dir"*.h "$dir"*.cpp 2>/dev/null || true)
done

# The libraries: FOLDER=LIBRARY. The formats' library holds src/host too.
declare -A lib=()
for arg in "$@"; do lib[${arg%%=*}]=${arg#*=}; done
strong_definitions() { nm -g --defined-only "$1" 2>/dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ {print $3}' | sort -u; }
undefined() { nm -u "$1" 2>/dev/null | awk '$1 == "U" {print $2}' | sort -u; }
for low in "${!lib[@]}"; do
  for high in "${!lib[@]}"; do
    [[ " ${may[$low]} " == *" $high "* ]] && continue
    calls=$(comm -12 <(undefined "${lib[$low]}") <(strong_definitions "${lib[$high]}"))
    if [[ -n $calls ]]; then
      echo "src/$low calls src/$high, above or beside it:"
      c++filt <<<"$calls" | sed 's/^/  /'
      fail=1
    fi
  done
done
exit $fail
