#!/usr/bin/env bash
# The test command's fuzz stage: builds the fuzz preset (clang, libFuzzer,
# ASan and UBSan), then runs every target over its seeds and kept findings
# plus a short fuzzing run (scripts/fuzz-options.sh gives the seconds; about
# 5 minutes in all). A finding fails the stage; its minimised input is
# written to tests/fuzz/regressions/<target>/ to be kept and fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-options.sh

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=64 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in $(cat build/fuzz/fuzz_targets.txt); do
  corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings" "tests/fuzz/regressions/$target"
  seconds=$(fuzz_seconds "$target")
  echo "-- $target (${seconds} s)"
  # shellcheck disable=SC2046
  if ! build/fuzz/fuzz_$target $(fuzz_options "$target") -max_total_time="$seconds" \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/$target" \
      "tests/fuzz/regressions/$target" >"$findings/log.txt" 2>&1; then
    tail -40 "$findings/log.txt"
    for crash in "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-* "$findings"/oom-*; do
      [ -e "$crash" ] || continue
      kept=tests/fuzz/regressions/$target/$(basename "$crash")
      # shellcheck disable=SC2046
      build/fuzz/fuzz_$target $(fuzz_options "$target") -minimize_crash=1 -max_total_time=30 \
        -exact_artifact_path="$kept" "$crash" >/dev/null 2>&1 || cp "$crash" "$kept"
      echo "finding kept as $kept"
    done
    failed+=("$target")
  fi
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" "$findings/log.txt" | tr '\n' ' '
  echo
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz stage: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz stage: no finding"
