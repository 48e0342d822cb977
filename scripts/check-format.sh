#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it (the rules
# are in .clang-format). With --fix, rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
fmt=$(command -v clang-format || command -v clang-format-14 || true)
if [ -z "$fmt" ]; then
  echo "check-format: clang-format is not installed (scripts/deps.sh test installs it)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files -co --exclude-standard -- src host tools tests bench |
  grep -E '\.(h|cpp)$')
if [ "${1:-}" = "--fix" ]; then
  "$fmt" -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! "$fmt" "$f" | cmp -s - "$f"; then
    echo "check-format: $f is not formatted (scripts/check-format.sh --fix)"
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "format check: ${#files[@]} files formatted"
exit $bad
