#!/usr/bin/env bash
# Builds and runs every test: native, ASan+UBSan, the threaded tests under
# TSan, the fuzz targets (seeds and a short run), the mingw cross build, and
# the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

# Source checks first: they take a second and name the offending lines.
bash scripts/check-layers.sh
bash scripts/check-format.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  shift
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" "$@"
  ctest --preset "$preset"
}

# Only the folders marked THREADED run under ThreadSanitizer, so only their
# executables are built there.
tsan_targets=(--target flvdmx)
for marker in tests/*/THREADED; do
  tsan_targets+=(--target "test_$(basename "$(dirname "$marker")")")
done

run_preset default
run_preset asan
run_preset tsan "${tsan_targets[@]}"

echo "== fuzz =="
scripts/deps.sh fuzz
bash scripts/fuzz-stage.sh

echo "== mingw =="
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

# The Windows build under Wine's DirectShow runtime, compared with the native
# tool on the corpus the default stage made.
echo "== wine =="
scripts/deps.sh wine
bash tests/wine/wine_test.sh build/mingw build/default build/media
echo "all test stages passed"
