#!/usr/bin/env bash
# Builds a small library from the example modules and lists it.
# Usage: examples/demo.sh [build-dir]
# The program is build-dir/vorna, or the one named by VORNA_EXE (an installed one, say).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
vorna=$(realpath "${VORNA_EXE:-$build/vorna}")
work="$build/demo"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$build/make_example_modules" .
echo "--- vorna -av -o DEMO -f START STRING MATH"
"$vorna" -av -o DEMO -f START STRING MATH
echo "--- vorna -l -o DEMO"
"$vorna" -l -o DEMO
echo "--- DEMO.LST (page breaks shown as ^L)"
sed 's/\f/^L/g' DEMO.LST | tr -d '\032'
