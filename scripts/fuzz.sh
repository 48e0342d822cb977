#!/usr/bin/env bash
# A long run of one fuzz target, then a coverage report of src/.
# Usage: scripts/fuzz.sh TARGET [SECONDS]   (default 600; targets: the
# *_fuzzer.cpp files, e.g. filter, amf0, mini_parser)
#  - fuzzes build/fuzz/corpus/TARGET (kept between runs), seeded from
#    tests/fuzz/TARGET and the kept findings; a finding stops the run and is
#    left in build/fuzz/findings/TARGET/;
#  - merges the corpus down to the inputs that add coverage;
#  - replays it through the coverage build (preset fuzz-cov) and prints the
#    line coverage of src/ per folder, then every line no input reached
#    (also written to build/fuzz/coverage/TARGET/unreached.txt); for a parser
#    target, the same for the files it is for (fuzz_own_files).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-options.sh
target=${1:?usage: scripts/fuzz.sh TARGET [SECONDS]}
seconds=${2:-600}
scripts/deps.sh fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "fuzz_$target"
cmake --preset fuzz-cov >/dev/null
cmake --build --preset fuzz-cov -j "$(nproc)" --target "replay_$target"

corpus=build/fuzz/corpus/$target findings=build/fuzz/findings/$target
mkdir -p "$corpus" "$findings" "tests/fuzz/regressions/$target"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=64 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
# shellcheck disable=SC2046
build/fuzz/fuzz_$target $(fuzz_options "$target") -max_total_time="$seconds" \
  -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/$target" \
  "tests/fuzz/regressions/$target" >"$findings/log.txt" 2>&1 || status=1
grep -E "DONE|ERROR|SUMMARY|stat::" "$findings/log.txt" || true
[ $status -eq 0 ] || echo "finding: see $findings/ (keep its minimised input under tests/fuzz/regressions/$target/)"

merged=build/fuzz/corpus-merged/$target
rm -rf "$merged" && mkdir -p "$merged"
# shellcheck disable=SC2046
build/fuzz/fuzz_$target $(fuzz_options "$target") -merge=1 "$merged" "$corpus" \
  "tests/fuzz/$target" >/dev/null 2>&1
rm -rf "$corpus" && mv "$merged" "$corpus"
echo "corpus: $(ls "$corpus" | wc -l) inputs after merging"

cov=build/fuzz/coverage/$target
rm -rf "$cov" && mkdir -p "$cov"
LLVM_PROFILE_FILE="$cov/replay-%p.profraw" build/fuzz-cov/replay_$target "$corpus" \
  "tests/fuzz/regressions/$target" >/dev/null
llvm-profdata-14 merge -sparse "$cov"/*.profraw -o "$cov/merged.profdata"
llvm-cov-14 export -format=lcov -instr-profile="$cov/merged.profdata" \
  "build/fuzz-cov/replay_$target" >"$cov/lcov.info"
bash scripts/fuzz-coverage-summary.sh "$cov/lcov.info" "$cov/unreached.txt"
echo "lines of src/ no input reached (file:first-last):"
cat "$cov/unreached.txt"
own=$(fuzz_own_files "$target")
if [ -n "$own" ]; then
  echo "the files $target is for ($own):"
  bash scripts/fuzz-coverage-summary.sh "$cov/lcov.info" "$cov/unreached-own.txt" "$own"
  cat "$cov/unreached-own.txt"
fi
exit $status
