#!/usr/bin/env bash
# Builds and runs every test: native, ASan+UBSan, the threaded tests under
# TSan, and the mingw cross build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
run_preset() {
  local preset=$1
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
}

run_preset default
run_preset asan
run_preset tsan

echo "== mingw =="
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"
echo "all test stages passed"
