#!/usr/bin/env bash
# The benchmark: vorna against llvm-ar and GNU ar on the same modules.
#
#   bench/run.sh [BUILD_DIR]        (default: build)
#
# Builds vorna, the workload writer and the timing wrapper in BUILD_DIR (a
# Release build is configured there when none exists; the option VORNA_BENCH,
# which adds the last two, is turned on), writes the workload (1000 modules of
# about 20 KB each, made by our own module writer) and times every operation
# for the three programs in one run, interleaved, RUNS times (default 5), at
# 250, 500 and 1000 modules. Every timed run starts from a fresh copy of its
# input, made and synced to disk outside the timing. It prints the medians,
# the ratio vorna/llvm-ar and the peak resident set size as Markdown tables:
# the operations at 1000 modules, then the time per module at each size.
#
# Environment: RUNS (runs per measurement), WORK (scratch directory, default
# BUILD_DIR/bench-work; its contents are replaced).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)
runs=${RUNS:-5}
work=${WORK:-$build/bench-work}
sizes=(250 500 1000)
ops=(create append extract delete replace replace-u list)
tools=(vorna llvm-ar gnu-ar)

# The yardsticks, installed when missing.
missing=()
command -v llvm-ar >/dev/null || missing+=(llvm)
command -v ar >/dev/null || missing+=(binutils)
if ((${#missing[@]})); then
  sudo=""
  ((EUID == 0)) || sudo=sudo
  $sudo apt-get update
  $sudo apt-get install -y "${missing[@]}"
fi

# The benchmark tools are built only with VORNA_BENCH, which is turned on here
# (also in an existing build directory, whose build type is kept).
config=(-DVORNA_BENCH=ON)
[[ -f $build/CMakeCache.txt ]] || config+=(-DCMAKE_BUILD_TYPE=Release)
cmake -S "$root" -B "$build" "${config[@]}" >/dev/null
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $build_type == Release ]] || echo "warning: $build is a '$build_type' build, not Release" >&2
log=$(cmake --build "$build" --target vorna make_workload bench_timeit -j2 2>&1) || { echo "$log" >&2; exit 1; }
vorna=$build/vorna
timeit=$build/bench_timeit

# The workload: all modules once, dated in the past so that the second
# versions written for replace are newer (replace -u then replaces them too).
rm -rf "$work"
mkdir -p "$work/base" "$work/results"
cd "$work"
"$build/make_workload" mods 1 1000
touch -d '2024-01-01 00:00:00' mods/*.QOB
for n in "${sizes[@]}"; do "$build/make_workload" -r new $((n / 2)) $((n / 2)); done

mod() { printf 'M%04d.QOB' "$1"; }
mod_files() { for ((i = $1; i <= $2; ++i)); do printf '../mods/%s\n' "$(mod "$i")"; done; }

# Runs a command in run/, failing the benchmark with its output when it fails.
quiet() {
  local log
  log=$(cd run && "$@" 2>&1) || { printf 'failed: %s\n%s\n' "$*" "$log" >&2; exit 1; }
}

# Prepares run/ for one operation of one program on n modules (untimed) and
# sets `cmd` to the command to time, `lib` to the library it works on there.
prepare() {
  local op=$1 tool=$2 n=$3 ext=.a prog=ar
  lib=W.a
  [[ $tool == vorna ]] && lib=W.LIB ext=.LIB
  [[ $tool == llvm-ar ]] && prog=llvm-ar
  rm -rf run && mkdir run
  case $op in
    append) cp "base/$tool-less-$n$ext" "run/$lib" ;;
    delete | replace | replace-u | list) cp "base/$tool-$n$ext" "run/$lib" ;;
  esac
  local all=../base/$tool-$n$ext mid new last
  mid=$(mod $((n / 2)))
  new=../new/$mid
  last=../mods/$(mod "$n")
  case $tool-$op in
    vorna-create) cmd=("$vorna" -a -o "$lib" "@../create-$n.cmd") ;;
    vorna-append) cmd=("$vorna" -a -o "$lib" -f "$last") ;;
    vorna-extract) cmd=("$vorna" -x -o "$all") ;;
    vorna-delete) cmd=("$vorna" -d -o "$lib" -f "$mid") ;;
    vorna-replace) cmd=("$vorna" -r -o "$lib" -f "$new") ;;
    vorna-replace-u) cmd=("$vorna" -ru -o "$lib" -f "$new") ;;
    vorna-list) cmd=("$vorna" -l -o "$lib") ;;
    *-create) mapfile -t cmd < <(mod_files 1 "$n"); cmd=("$prog" rcs "$lib" "${cmd[@]}") ;;
    *-append) cmd=("$prog" rcs "$lib" "$last") ;;
    # The listing's yardstick: extracting every module.
    *-extract | *-list) cmd=("$prog" x "$all") ;;
    *-delete) cmd=("$prog" d "$lib" "$mid") ;;
    *-replace) cmd=("$prog" r "$lib" "$new") ;;
    *-replace-u) cmd=("$prog" ru "$lib" "$new") ;;
  esac
}

# The inputs, made by each program itself: for each size the library of all
# modules and the one without the last module (for append).
for n in "${sizes[@]}"; do
  for count in $((n - 1)) "$n"; do { echo -f; mod_files 1 "$count"; } >"create-$count.cmd"; done
  for tool in "${tools[@]}"; do
    prepare create "$tool" $((n - 1))
    quiet "${cmd[@]}"
    mv "run/$lib" "base/$tool-less-$n${lib#W}"
    prepare create "$tool" "$n"
    quiet "${cmd[@]}"
    mv "run/$lib" "base/$tool-$n${lib#W}"
  done
done

total=$((runs * ${#sizes[@]} * ${#ops[@]} * ${#tools[@]}))
done_runs=0
for ((rep = 0; rep < runs; ++rep)); do
  for n in "${sizes[@]}"; do
    for op in "${ops[@]}"; do
      for ((t = 0; t < ${#tools[@]}; ++t)); do
        # Each run starts with another program, so none always runs first.
        tool=${tools[(t + rep) % ${#tools[@]}]}
        prepare "$op" "$tool" "$n"
        sync
        quiet "$timeit" "$work/results/$op-$tool-$n" "${cmd[@]}"
        done_runs=$((done_runs + 1))
      done
    done
    printf '\r%d of %d runs' "$done_runs" "$total" >&2
  done
done
printf '\n' >&2
rm -rf run

# Median of the times (seconds) and maximum of the peak RSS (KB) of one measurement.
median() { sort -n -k1,1 "$work/results/$1" | awk '{t[NR] = $1} END {print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2}'; }
peak() { awk 'm < $2 {m = $2} END {print m}' "$work/results/$1"; }

echo
echo "Performance, $(date '+%Y-%m-%d %H:%M %Z'), $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), median of $runs runs"
echo
echo "| operation (1000 modules) | vorna ms | llvm-ar ms | GNU ar ms | vorna / llvm-ar | peak RSS vorna / llvm-ar / GNU ar (MB) |"
echo "|---|---:|---:|---:|---:|---|"
for op in "${ops[@]}"; do
  v=$(median "$op-vorna-1000")
  l=$(median "$op-llvm-ar-1000")
  g=$(median "$op-gnu-ar-1000")
  awk -v op="$op" -v v="$v" -v l="$l" -v g="$g" -v rv="$(peak "$op-vorna-1000")" \
    -v rl="$(peak "$op-llvm-ar-1000")" -v rg="$(peak "$op-gnu-ar-1000")" \
    'BEGIN {label = op == "list" ? "list (vs. extract all)" : op
            printf "| %s | %.1f | %.1f | %.1f | %.2f | %.1f / %.1f / %.1f |\n",
                   label, v * 1000, l * 1000, g * 1000, v / l, rv / 1024, rl / 1024, rg / 1024}'
done
echo
echo "create: all modules in one run (vorna -a -o W.LIB @cmdfile; ar rcs W.a modules). append: the last module"
echo "to the library of the others (vorna -a; ar rcs). extract: every module (vorna -x; ar x). delete: the middle"
echo "module (vorna -d; ar d). replace: the middle module by its second version (vorna -r; ar r), replace-u the"
echo "same with the update check (vorna -ru; ar ru). list: vorna -l, measured against ar x of every module."
echo
echo "| operation | vorna µs/module at ${sizes[*]} | 1000 vs 250 | llvm-ar µs/module at ${sizes[*]} | 1000 vs 250 |"
echo "|---|---|---:|---|---:|"
for op in "${ops[@]}"; do
  row="| $op"
  for tool in vorna llvm-ar; do
    per=()
    for n in "${sizes[@]}"; do per+=("$(awk -v t="$(median "$op-$tool-$n")" -v n="$n" 'BEGIN {printf "%.1f", t * 1e6 / n}')"); done
    row+=" | ${per[*]} | $(awk -v a="${per[0]}" -v b="${per[-1]}" 'BEGIN {printf "%.2f", b / a}')"
  done
  echo "$row |"
done
