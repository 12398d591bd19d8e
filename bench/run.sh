#!/usr/bin/env bash
# The benchmark: vorna against llvm-ar on the same modules, in interleaved
# rounds, with the physical floor of each operation beside them.
#
#   bench/run.sh [BUILD_DIR]        (default: build)
#
# Builds vorna and the benchmark tools in BUILD_DIR (a Release build is
# configured there when none exists; the option VORNA_BENCH is turned on),
# writes the workloads with our own module writer and measures every
# operation RUNS times (default 7) at each size. A round times vorna,
# llvm-ar and the floor one after another, in an order that turns from round
# to round, each from a fresh copy of its input synced to disk beforehand;
# the ratio vorna / llvm-ar is taken within the round, so both ran under the
# same load, and the median of the rounds' ratios is reported with its
# spread (lowest and highest). A spread wider than SPREAD (default 1.5, the
# highest ratio over the lowest) is marked: the machine was too busy for
# that figure.
#
# Workloads: "normal", 1000 modules of about 20 KB (sizes 250, 500 and 1000),
# and "large", the same modules with contents ten times larger, about 170
# KB (sizes 250 and 1000). The floor copies the operation's output bytes
# with copy_file_range and syncs once (for extract: into one file per module,
# unsynced, as neither program syncs them); list has none.
#
# With valgrind installed, vorna also runs once per operation on 1000
# modules under callgrind, and the table shows the instructions of its whole
# process, which do not depend on the machine.
#
# Then vornadump --diff is measured against cmp on the library of 1000
# modules and a copy that differs in one module, the two in turns within
# each round (the same median of per-round ratios): "body", one byte of the
# last module's contents changed, which cmp finds only after reading both
# files through; and "replaced", the middle module replaced by its second
# version, whose entry already differs, so that cmp stops in the module table
# while vornadump still compares every module.
#
# Environment: RUNS, SPREAD, WORKLOADS (default "normal large"), OPS (the
# operations against llvm-ar, default all; empty for the comparison alone), WORK
# (scratch directory, default BUILD_DIR/bench-work; its contents are replaced),
# VORNA_EXE (another vorna to measure, say an earlier build; the tools still
# come from BUILD_DIR).
set -euo pipefail
# The runs find their libraries where they are told, whatever the caller's
# environment says.
unset VORNA TMP

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)
runs=${RUNS:-7}
spread_limit=${SPREAD:-1.5}
workloads=(${WORKLOADS:-normal large})
work=${WORK:-$build/bench-work}
ops=(${OPS-create append delete replace replace-u extract list})
tools=(vorna llvm-ar floor)
diff_cases=(body replaced)
diff_tools=(vornadump cmp)

# The yardstick, installed when missing.
if ! command -v llvm-ar >/dev/null; then
  sudo=""
  ((EUID == 0)) || sudo=sudo
  $sudo apt-get update
  $sudo apt-get install -y llvm
fi

# The benchmark tools are built only with VORNA_BENCH, which is turned on here
# (in an existing build directory too, keeping its build type).
if [[ -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DVORNA_BENCH=ON >/dev/null
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORNA_BENCH=ON >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ $build_type == Release ]] || echo "warning: $build is a '$build_type' build, not Release" >&2
log=$(cmake --build "$build" --target vorna vornadump make_workload bench_timeit bench_floor -j2 2>&1) ||
  { echo "$log" >&2; exit 1; }
vorna=${VORNA_EXE:-$build/vorna}
vornadump=$build/vornadump
timeit=$build/bench_timeit
floor=$build/bench_floor

sizes_of() { [[ $1 == normal ]] && echo "250 500 1000" || echo "250 1000"; }
blocks_of() { [[ $1 == normal ]] && echo 4 || echo 40; }
mod() { printf 'M%04d.QOB' "$1"; }
mod_files() { for ((i = $1; i <= $2; ++i)); do printf '%s/mods/%s\n' "$wdir" "$(mod "$i")"; done; }

# Runs a command in run/, failing the benchmark with its output when it fails.
quiet() {
  local log
  log=$(cd "$wdir/run" && "$@" 2>&1) || { printf 'failed: %s\n%s\n' "$*" "$log" >&2; exit 1; }
}

# Prepares run/ for one operation of one tool on n modules (untimed) and sets
# `cmd` to the command to time there.
prepare() {
  local op=$1 tool=$2 n=$3 lib=W.a ext=.a
  [[ $tool == vorna ]] && lib=W.LIB ext=.LIB
  rm -rf "$wdir/run" && mkdir "$wdir/run"
  case $tool-$op in
    floor-*) ;;
    *-append) cp "$wdir/base/$tool-less-$n$ext" "$wdir/run/$lib" ;;
    *-delete | *-replace | *-replace-u | *-list) cp "$wdir/base/$tool-$n$ext" "$wdir/run/$lib" ;;
  esac
  local all=$wdir/base/$tool-$n$ext mid new last
  mid=$(mod $((n / 2)))
  new=$wdir/new/$mid
  last=$wdir/mods/$(mod "$n")
  case $tool-$op in
    vorna-create) cmd=("$vorna" -a -o "$lib" "@$wdir/create-$n.cmd") ;;
    vorna-append) cmd=("$vorna" -a -o "$lib" -f "$last") ;;
    vorna-delete) cmd=("$vorna" -d -o "$lib" -f "$mid") ;;
    vorna-replace) cmd=("$vorna" -r -o "$lib" -f "$new") ;;
    vorna-replace-u) cmd=("$vorna" -ru -o "$lib" -f "$new") ;;
    vorna-extract) cmd=("$vorna" -x -o "$all") ;;
    vorna-list) cmd=("$vorna" -l -o "$lib") ;;
    llvm-ar-create) mapfile -t cmd < <(mod_files 1 "$n"); cmd=(llvm-ar rcs "$lib" "${cmd[@]}") ;;
    llvm-ar-append) cmd=(llvm-ar rcs "$lib" "$last") ;;
    llvm-ar-delete) cmd=(llvm-ar d "$lib" "$mid") ;;
    llvm-ar-replace) cmd=(llvm-ar r "$lib" "$new") ;;
    llvm-ar-replace-u) cmd=(llvm-ar ru "$lib" "$new") ;;
    llvm-ar-extract) cmd=(llvm-ar x "$all") ;;
    llvm-ar-list) cmd=(llvm-ar t "$lib") ;;
    floor-create) mapfile -t cmd < <(mod_files 1 "$n"); cmd=("$floor" W.out "${cmd[@]}") ;;
    floor-delete) cmd=("$floor" W.out "$wdir/base/vorna-less-$n.LIB") ;;
    floor-extract) mapfile -t cmd < <(mod_files 1 "$n"); cmd=("$floor" -d . "$wdir/base/bodies-$n" "${cmd[@]}") ;;
    floor-list) cmd=(true) ;;
    floor-*) cmd=("$floor" W.out "$wdir/base/vorna-$n.LIB") ;;
  esac
}

# The library of 1000 modules that differs from base/vorna-1000.LIB in one
# module, as case $1 says (untimed).
make_diff_input() {
  local out=$wdir/base/diff-$1.LIB size at byte
  cp "$wdir/base/vorna-1000.LIB" "$out"
  if [[ $1 == body ]]; then
    # 100 bytes before the end lie in the last module's last block of contents.
    size=$(stat -c %s "$out")
    at=$((size - 100))
    byte=$(od -An -tu1 -j "$at" -N1 "$out")
    printf "\\x$(printf %02x $((byte ^ 0xFF)))" | dd of="$out" bs=1 seek="$at" conv=notrunc status=none
  else
    rm -rf "$wdir/run" && mkdir "$wdir/run"
    mv "$out" "$wdir/run/W.LIB"
    quiet "$vorna" -r -o W.LIB -f "$wdir/new/$(mod 500)"
    mv "$wdir/run/W.LIB" "$out"
  fi
}

# Sets `cmd` to a comparison of tool $1 on case $2; both end with status 1.
prepare_diff() {
  local a=$wdir/base/vorna-1000.LIB b=$wdir/base/diff-$2.LIB
  case $1 in
    vornadump) cmd=("$vornadump" --diff "$a" "$b") ;;
    cmp) cmd=(cmp "$a" "$b") ;;
  esac
}

# Median, lowest and highest of a column of numbers.
stats() { sort -g | awk '{v[NR] = $1} END {m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1], v[NR]}'; }
column() { awk -v c="$2" '{print $c}' "$results/$1"; }
# The per-round ratios of the times of two results.
ratios() { paste -d' ' "$results/$1" "$results/$2" | awk '{print $1 / $3}'; }
# One row of a table: LABEL, the results of the program measured and of its
# yardstick, the instructions, and the floor's results ("-" for a floor
# column without a figure; none for no column).
table_row() {
  local label=$1 ours=$2 theirs=$3 ir=$4 floor=${5:-} v l f floor_col="" rm rlo rhi mv ml
  read -r v _ < <(column "$ours" 1 | stats)
  read -r l _ < <(column "$theirs" 1 | stats)
  if [[ $floor == - ]]; then
    floor_col=" - |"
  elif [[ -n $floor ]]; then
    read -r f _ < <(column "$floor" 1 | stats)
    floor_col=$(awk -v f="$f" 'BEGIN {printf " %.1f |", f * 1000}')
  fi
  read -r rm rlo rhi < <(ratios "$ours" "$theirs" | stats)
  read -r _ _ mv < <(column "$ours" 2 | stats)
  read -r _ _ ml < <(column "$theirs" 2 | stats)
  awk -v label="$label" -v v="$v" -v l="$l" -v floor_col="$floor_col" -v rm="$rm" -v rlo="$rlo" -v rhi="$rhi" \
    -v mv="$mv" -v ml="$ml" -v limit="$spread_limit" -v ir="$ir" \
    'BEGIN {mark = rhi / rlo > limit ? " **wide spread**" : ""
            printf "| %s | %.1f | %.1f |%s %.2f (%.2f - %.2f)%s | %.1f / %.1f | %s |\n",
                   label, v * 1000, l * 1000, floor_col, rm, rlo, rhi, mark, mv / 1024, ml / 1024, ir}'
}

start_time=$(date '+%Y-%m-%d %H:%M %Z')
for workload in "${workloads[@]}"; do
  wdir=$work/$workload
  results=$wdir/results
  rm -rf "$wdir"
  mkdir -p "$wdir/base" "$results"
  blocks=$(blocks_of "$workload")
  read -ra sizes <<<"$(sizes_of "$workload")"
  # All modules once, dated in the past, so that their second versions are
  # newer and replace -u replaces them too.
  "$build/make_workload" -b "$blocks" "$wdir/mods" 1 1000
  touch -d '2024-01-01 00:00:00' "$wdir"/mods/*.QOB
  for n in "${sizes[@]}"; do "$build/make_workload" -r -b "$blocks" "$wdir/new" $((n / 2)) $((n / 2)); done

  # The inputs, made by each program itself: for each size the library of
  # all modules and the one without the last module (for append).
  for n in "${sizes[@]}"; do
    for count in $((n - 1)) "$n"; do { echo -f; mod_files 1 "$count"; } >"$wdir/create-$count.cmd"; done
    mod_files 1 "$n" | xargs cat >"$wdir/base/bodies-$n"
    for tool in vorna llvm-ar; do
      ext=.a && [[ $tool == vorna ]] && ext=.LIB
      prepare create "$tool" $((n - 1))
      quiet "${cmd[@]}"
      mv "$wdir"/run/W$ext "$wdir/base/$tool-less-$n$ext"
      prepare create "$tool" "$n"
      quiet "${cmd[@]}"
      mv "$wdir"/run/W$ext "$wdir/base/$tool-$n$ext"
    done
  done

  for c in "${diff_cases[@]}"; do make_diff_input "$c"; done

  total=$((runs * ${#sizes[@]} * ${#ops[@]}))
  done_rounds=0
  for ((round = 0; round < runs; ++round)); do
    for n in "${sizes[@]}"; do
      for op in "${ops[@]}"; do
        for ((t = 0; t < ${#tools[@]}; ++t)); do
          tool=${tools[(t + round) % ${#tools[@]}]}
          prepare "$op" "$tool" "$n"
          sync
          quiet "$timeit" "$results/$op-$tool-$n" "${cmd[@]}"
        done
        done_rounds=$((done_rounds + 1))
        printf '\r%s: %d of %d rounds' "$workload" "$done_rounds" "$total" >&2
      done
    done
  done
  for ((round = 0; round < runs; ++round)); do
    for c in "${diff_cases[@]}"; do
      for ((t = 0; t < ${#diff_tools[@]}; ++t)); do
        tool=${diff_tools[(t + round) % ${#diff_tools[@]}]}
        prepare_diff "$tool" "$c"
        status=0
        "$timeit" "$results/diff-$c-$tool" "${cmd[@]}" >/dev/null 2>&1 || status=$?
        ((status == 1)) || { echo "failed (status $status): ${cmd[*]}" >&2; exit 1; }
      done
    done
    printf '\r%s: %d of %d comparison rounds' "$workload" $((round + 1)) "$runs" >&2
  done
  printf '\n' >&2
  # The instructions of vorna's whole process for each operation on 1000
  # modules, when valgrind is there: unlike the times, they do not depend on
  # the machine or its load.
  declare -A instructions=()
  if command -v valgrind >/dev/null; then
    for op in "${ops[@]}"; do
      prepare "$op" vorna 1000
      quiet valgrind --tool=callgrind --callgrind-out-file="$results/callgrind-$op" "${cmd[@]}"
      instructions[$op]=$(awk '/^summary:/ {printf "%.1f M", $2 / 1e6}' "$results/callgrind-$op")
    done
    for c in "${diff_cases[@]}"; do
      prepare_diff vornadump "$c"
      valgrind --tool=callgrind --callgrind-out-file="$results/callgrind-diff-$c" "${cmd[@]}" >/dev/null 2>&1 || true
      instructions[diff-$c]=$(awk '/^summary:/ {printf "%.1f M", $2 / 1e6}' "$results/callgrind-diff-$c")
    done
  fi
  rm -rf "$wdir/run"

  module_kb=$(du -k "$wdir/mods/M0001.QOB" | cut -f1)
  echo
  echo "Workload \"$workload\": 1000 modules of about $module_kb KB ($(du -m "$wdir/base/vorna-1000.LIB" | cut -f1) MB library), $runs rounds"
  if ((${#ops[@]} > 0)); then
  echo
  echo "| operation (1000 modules) | vorna ms | llvm-ar ms | floor ms | vorna / llvm-ar, median of rounds (lowest - highest) | peak RSS vorna / llvm-ar (MB) | vorna instructions |"
  echo "|---|---:|---:|---:|---|---|---:|"
  for op in "${ops[@]}"; do
    label=$op && [[ $op == list ]] && label="list (llvm-ar t)"
    # list has no floor: its results hold the time of `true`.
    floor=$op-floor-1000 && [[ $op == list ]] && floor=-
    table_row "$label" "$op-vorna-1000" "$op-llvm-ar-1000" "${instructions[$op]:--}" "$floor"
  done
  echo
  echo "| operation | vorna µs/module at ${sizes[*]} | last vs first | llvm-ar µs/module at ${sizes[*]} | last vs first |"
  echo "|---|---|---:|---|---:|"
  for op in "${ops[@]}"; do
    row="| $op"
    for tool in vorna llvm-ar; do
      per=()
      for n in "${sizes[@]}"; do
        read -r t _ < <(column "$op-$tool-$n" 1 | stats)
        per+=("$(awk -v t="$t" -v n="$n" 'BEGIN {printf "%.1f", t * 1e6 / n}')")
      done
      row+=" | ${per[*]} | $(awk -v a="${per[0]}" -v b="${per[-1]}" 'BEGIN {printf "%.2f", b / a}')"
    done
    echo "$row |"
  done
  fi
  echo
  echo "| vornadump --diff against cmp (1000 modules) | vornadump ms | cmp ms | vornadump / cmp, median of rounds (lowest - highest) | peak RSS vornadump / cmp (MB) | vornadump instructions |"
  echo "|---|---:|---:|---|---|---:|"
  for c in "${diff_cases[@]}"; do
    label="one body byte (cmp reads all)" && [[ $c == replaced ]] && label="one module replaced (cmp stops in the table)"
    table_row "$label" "diff-$c-vornadump" "diff-$c-cmp" "${instructions[diff-$c]:--}"
  done
done
echo
echo "Measured $start_time on $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(df -T "$work" | awk 'NR == 2 {print $2}')."
