#!/usr/bin/env bash
# Makes the ffmpeg test corpus in DIR (once; later calls return at once).
set -euo pipefail
dir=${1:?usage: make-test-media.sh DIR}
mkdir -p "$dir"
echo "test media in $dir"
