#!/usr/bin/env bash
# Builds flvdmx and runs it on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target flvdmx
sample=samples/sample.flv
flvdmx=./build/default/tools/flvdmx/flvdmx
"$flvdmx" tags "$sample"
"$flvdmx" probe "$sample"
"$flvdmx" demux "$sample" -o build/run-demux
