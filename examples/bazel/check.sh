#!/usr/bin/env bash
# Builds the Bazel example with vorna's Bazel repository from an install of
# BUILD_DIR (a scratch prefix), and checks that the rule's action is
# hermetic:
#  - the first build, and one after a module has changed, make libraries
#    that hold exactly the modules of BUILD.bazel, in its order, byte for
#    byte, with each module's time the rule's SOURCE_DATE_EPOCH (its default
#    in APP.LIB, the one BUILD.bazel gives in APP2000.LIB);
#  - a copy of the workspace in another directory, with other file times and
#    in another time zone, sharing the first one's --disk_cache, gets its
#    libraries from that cache, and built again without the cache, makes
#    the same bytes.
# Module names hold blanks and quotes. Bazel runs in batch mode (no server
# stays behind) with its output root in the build directory.
#
#   examples/bazel/check.sh [BUILD_DIR]     (default: build)
#
# Exits 77 (skipped) when bazel is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
command -v bazel >/dev/null || { echo "skipped: bazel is not installed"; exit 77; }
source "$here/../library_check.sh"
fail() { echo "FAILED: $*"; exit 1; }

work=$build/bazel-example
# Bazel leaves its outputs read-only.
if [[ -e $work ]]; then chmod -R u+w "$work" && rm -rf "$work"; fi
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
root=$work/bazel-root
cache=$work/disk-cache
first=$work/first
copy=$work/elsewhere/copy
unset VORNA TMP

# The example's workspace in $1, its vorna repository the scratch prefix's.
make_workspace() {
  mkdir -p "$1/modules"
  cp "$here/BUILD.bazel" "$1"
  sed "s|\"/usr/share/vorna/bazel\"|\"$work/prefix/share/vorna/bazel\"|" "$here/WORKSPACE" >"$1/WORKSPACE"
}

# The modules BUILD.bazel lists, in its order, as paths in the workspace $1.
modules_of() { sed -n 's|^ *"\(modules/.*\.QOB\)",$|\1|p' "$1/BUILD.bazel" | sed "s|^|$1/|"; }

# Writes the module $1 with the code bytes $2 and a public symbol named
# after the module.
write_module() {
  printf 'title %s\npublic SYM_%s\ncode %s\n' "${1##*/}" "$(tr -cd A-Za-z0-9 <<<"${1##*/}")" "$2" >"$work/module.src"
  "$build/make_example_modules" "$work/module.src" "$1"
}

# bazel build in the workspace $1 with the options that follow.
bazel_build() {
  local dir=$1
  shift
  (cd "$dir" && bazel --batch --nohome_rc --output_user_root="$root" build "$@" //:app //:app_2000) \
    >"$work/bazel.log" 2>&1 || { cat "$work/bazel.log"; fail "bazel build in $dir ($round)"; }
}

# The libraries of the workspace $1 hold its modules, stored with the time
# of the rule's SOURCE_DATE_EPOCH (years since 1900 in the F9 record).
check_libraries() {
  local modules library year times
  mapfile -t modules < <(modules_of "$1")
  for library in APP:0x0050 APP2000:0x0064; do
    year=${library#*:}
    library=$1/bazel-bin/${library%:*}.LIB
    check_library "$work/prefix/bin/vorna" "$library" "${modules[@]}" || fail "$library after the $round build"
    times=$("$work/prefix/bin/vornadump" "$library" |
      grep -c "F9 time: seconds 0x0000 minutes 0x0000 hours 0x0000 day 0x0001 month 0x0000 year $year\$" || true)
    [[ $times == "${#modules[@]}" ]] || fail "$library after the $round build: $times of ${#modules[@]} modules with the time of its SOURCE_DATE_EPOCH"
  done
}

round=first
make_workspace "$first"
n=0
while read -r module; do
  n=$((n + 1))
  write_module "$module" "$(printf '%02X' $n)"
done < <(modules_of "$first")
bazel_build "$first" --disk_cache="$cache"
check_libraries "$first"

round=second
write_module "$first/modules/My Strings.QOB" "5A 5B"
bazel_build "$first" --disk_cache="$cache"
check_libraries "$first"

round=copy
make_workspace "$copy"
cp "$first/modules/"* "$copy/modules/"
touch -d '2001-02-03 04:05:06' "$copy/modules/"*
export TZ=JST-9
bazel_build "$copy" --disk_cache="$cache"
grep -Eq '(disk|remote) cache hit' "$work/bazel.log" || { cat "$work/bazel.log"; fail "the copy found nothing in the disk cache"; }
for library in APP APP2000; do
  cmp "$first/bazel-bin/$library.LIB" "$copy/bazel-bin/$library.LIB" || fail "the copy's $library.LIB from the cache"
done

round="copy's uncached"
(cd "$copy" && bazel --batch --nohome_rc --output_user_root="$root" clean) >"$work/bazel.log" 2>&1 ||
  { cat "$work/bazel.log"; fail "bazel clean"; }
bazel_build "$copy"
! grep -q 'cache hit' "$work/bazel.log" || { cat "$work/bazel.log"; fail "the copy's build without the cache had cache hits"; }
for library in APP APP2000; do
  cmp "$first/bazel-bin/$library.LIB" "$copy/bazel-bin/$library.LIB" || fail "the copy's $library.LIB made again"
done

! pgrep -f -- "--output_user_root=$root" || fail "a Bazel process is still running"
echo "bazel example: 4 modules (a blank and a quote in names), one changed, the same bytes from a copy elsewhere, from the disk cache and made again"
