#!/usr/bin/env bash
# Fails when an #include runs against the layer order: each folder of src/
# may include only itself and the folders before it; host/ may use src/;
# tools/ may use src/ and host/. Prints every offending line.
set -euo pipefail
cd "$(dirname "$0")/.."

layers=(platform base flvdefs diag baseclasses seeking framework nal h264 parsers streams flv module
        host tools)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

bad=0
while IFS= read -r file; do
  case $file in
    src/*) dir=${file#src/}; dir=${dir%%/*} ;;
    host/*) dir=host ;;
    tools/*) dir=tools ;;
  esac
  own=${rank[$dir]:-}
  if [ -z "$own" ]; then
    echo "$file: folder '$dir' has no place in the layer order (scripts/check-layers.sh)"
    bad=1
    continue
  fi
  while IFS= read -r line; do
    target=${line#*\"}; target=${target%%/*}
    [ -n "${rank[$target]:-}" ] || continue
    if [ "${rank[$target]}" -gt "$own" ]; then
      echo "$file: includes \"${line#*\"} against the layer order ($dir may not use $target)"
      bad=1
    fi
  done < <(grep -oE '^#include "[a-z0-9_]+/[^"]+"' "$file" || true)
done < <(git ls-files -co --exclude-standard -- src host tools | grep -E '\.(h|cpp)$')

if [ $bad -ne 0 ]; then
  echo "layer check failed; the order is: ${layers[*]}"
  exit 1
fi
echo "layer check: every include follows the order"
