#!/usr/bin/env bash
# Fuzzing: builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UBSan) and runs each for a bounded time, starting from the seed corpora in
# fuzz/corpus (which also hold the inputs of earlier findings, replayed first).
# Any finding fails the run: a crash, a leak, a sanitizer report, a failed
# check of the fuzz sandbox, or an input that takes over a second. The input
# is kept in <build>/fuzz/findings.
#
#   FUZZ_SECONDS  run time of each target (default 60)
#   FUZZ_BUILD    build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
targets=(append_new append_existing list extract delete replace cmdline dump)

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DVORNA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

findings=$(realpath -m "$build/fuzz/findings")
mkdir -p "$findings"
failed=()
for target in "${targets[@]}"; do
  echo "== fuzz $target (${seconds} s)"
  # New inputs go to a scratch corpus; the kept corpus is only read.
  work=$(realpath -m "$build/fuzz/work/$target")
  rm -rf "$work"
  mkdir -p "$work"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1 -print_funcs=0 \
      -artifact_prefix="$findings/$target-" "$work" "$(realpath "fuzz/corpus/$target")" 2>"$build/fuzz/$target.log"; then
    tail -n 60 "$build/fuzz/$target.log"
    failed+=("$target")
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$build/fuzz/$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in $findings)"
  exit 1
fi
echo "fuzzing: no findings"
