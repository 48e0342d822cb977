#!/usr/bin/env bash
# Makes the ffmpeg test corpus in DIR by running every part in scripts/media/
# in name order. Each part makes only the files that are missing, so a second
# run returns at once.
set -euo pipefail
dir=${1:?usage: make-test-media.sh DIR}
mkdir -p "$dir"
here=$(cd "$(dirname "$0")" && pwd)
shopt -s nullglob
for part in "$here"/media/*.sh; do
  bash "$part" "$dir"
done
echo "test media in $dir"
