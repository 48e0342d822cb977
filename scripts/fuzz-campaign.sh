#!/usr/bin/env bash
# A long campaign: each fuzz target in turn (one process at a time, at the
# lowest priority) for RUNS executions, its corpus merged and replayed
# through the coverage build; a line per target is appended to REPORT
# (executions, executions per second, findings, line coverage of src/ per
# folder). Findings are left in build/fuzz/findings/<target>/.
# Usage: scripts/fuzz-campaign.sh REPORT [RUNS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-options.sh
report=$(realpath -m "$1")
runs=${2:-10000000}
shift 2 || shift $#
targets=("$@")
[ ${#targets[@]} -gt 0 ] || read -ra targets <build/fuzz/fuzz_targets.txt
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=64 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
  mkdir -p "$corpus" "$findings" "tests/fuzz/regressions/$target"
  start=$(date +%s)
  # shellcheck disable=SC2046
  nice -n 19 build/fuzz/fuzz_$target $(fuzz_options "$target") -runs="$runs" \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/$target" \
    "tests/fuzz/regressions/$target" >"$findings/campaign.log" 2>&1
  rc=$?
  secs=$(($(date +%s) - start))
  execs=$(grep -oP 'stat::number_of_executed_units:\s+\K[0-9]+' "$findings/campaign.log" | tail -1)
  rate=$(grep -oP 'stat::average_exec_per_sec:\s+\K[0-9]+' "$findings/campaign.log" | tail -1)
  if [ -z "$execs" ]; then
    execs=$(grep -oP '^#\K[0-9]+' "$findings/campaign.log" | tail -1)
    rate=$(( ${execs:-0} / (secs > 0 ? secs : 1) ))
  fi
  found=none
  [ $rc -eq 0 ] || found="exit $rc: $(ls "$findings" | grep -E '^(crash|leak|timeout|oom)-' | tr '\n' ' ')"

  merged=build/fuzz/corpus-merged/$target
  rm -rf "$merged" && mkdir -p "$merged"
  # shellcheck disable=SC2046
  nice -n 19 build/fuzz/fuzz_$target $(fuzz_options "$target") -merge=1 "$merged" "$corpus" \
    >/dev/null 2>&1 && rm -rf "$corpus" && mv "$merged" "$corpus"
  cov=build/fuzz/coverage/$target
  rm -rf "$cov" && mkdir -p "$cov"
  LLVM_PROFILE_FILE="$cov/replay-%p.profraw" nice -n 19 build/fuzz-cov/replay_$target "$corpus" \
    >/dev/null 2>&1
  llvm-profdata-14 merge -sparse "$cov"/*.profraw -o "$cov/merged.profdata" 2>/dev/null
  llvm-cov-14 export -format=lcov -instr-profile="$cov/merged.profdata" \
    "build/fuzz-cov/replay_$target" >"$cov/lcov.info" 2>/dev/null
  summary=$(bash scripts/fuzz-coverage-summary.sh "$cov/lcov.info" "$cov/unreached.txt" 2>&1)
  {
    echo "### $target"
    echo "- executions: ${execs:-?} in ${secs} s (${rate:-?} exec/s), corpus $(ls "$corpus" | wc -l) inputs"
    echo "- findings: $found"
    echo '```'
    echo "$summary"
    echo '```'
    echo
  } >>"$report"
done
