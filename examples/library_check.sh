# Sourced by the examples' checks: whether a library holds exactly the
# modules a build was given.
#
#   check_library VORNA LIBRARY MODULE...
#
# The library's module table must name the modules (their base names) in the
# order given and no others, and each module extracted from the library must
# be its file byte for byte. Prints what differs and returns 1 otherwise.
# Module names may hold blanks and quotes.
check_library() {
  local vorna=$1 library=$2 scratch want have module status=0
  shift 2
  # Listed and extracted from a copy, so that nothing is written beside the
  # library.
  scratch=$(mktemp -d)
  cp "$library" "$scratch/CHECKED.LIB"
  if ! (cd "$scratch" && "$vorna" -l -o CHECKED.LIB && "$vorna" -x -o CHECKED.LIB) >"$scratch.log" 2>&1; then
    cat "$scratch.log"
    echo "cannot list and extract $library"
    rm -rf "$scratch" "$scratch.log"
    return 1
  fi
  # The module table of the listing: "NAME.QOB..... offset: 0000013EH module size: ...".
  have=$(LC_ALL=C sed -n 's/^\(.*[^.]\)\.* offset: [0-9A-F]*H module size: .*/\1/p' "$scratch/CHECKED.LST")
  want=$(for module; do basename "$module"; done)
  if [[ $have != "$want" ]]; then
    echo "$library holds"$'\n'"$have"$'\n'"instead of"$'\n'"$want"
    status=1
  else
    for module; do
      cmp "$module" "$scratch/$(basename "$module")" || status=1
    done
  fi
  rm -rf "$scratch" "$scratch.log"
  return $status
}
