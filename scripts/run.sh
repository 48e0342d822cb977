#!/usr/bin/env bash
# Builds flvdmx and runs it on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target flvdmx
sample=samples/sample.flv
./build/default/tools/flvdmx/flvdmx tags "$sample"
