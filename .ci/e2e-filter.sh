#!/usr/bin/env bash
# Prints the GoogleTest filter of the end-to-end suites of the host test
# binary, which the legs of other machines run against their programs: every
# suite but the unit suites (plain TEST, in-process against the host's own
# core), so that a new suite with a fixture joins by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "-$(find tests -name '*.cpp' -exec \
  sed -n 's/^[[:space:]]*TEST[[:space:]]*([[:space:]]*\([A-Za-z0-9_]*\).*/\1.*/p' {} + | sort -u | paste -sd: -)"
