#!/usr/bin/env bash
# Prints the line coverage of src/ per folder from an lcov file, and writes
# the lines no input reached (file:first-last, one range a line) to OUT.
# FILES, an awk regular expression, keeps only the files of src/ it matches:
# the ones a parser target is for, not all it links.
# Usage: scripts/fuzz-coverage-summary.sh LCOV OUT [FILES]
set -euo pipefail
lcov=$1 out=$2 files=${3:-.}
root=$(cd "$(dirname "$0")/.." && pwd)
: >"$out"  # a report with nothing unreached must not keep an earlier list
awk -v root="$root/" -v out="$out" -v files="$files" '
  /^SF:/ { file = substr($0, 4); sub(/^.*\/\.\.\/\.\.\//, "", file); sub(root, "", file); keep = file ~ /^src\// && file !~ /_fuzzer\.cpp$/ && file ~ files
           split(file, parts, "/"); folder = parts[2]; start = -1; next }
  !keep { next }
  /^DA:/ { split(substr($0, 4), f, ","); line = f[1]; hit = f[2] > 0
           total[folder]++; all++
           if (hit) { reached[folder]++; hits++ }
           if (!hit && start < 0) { start = line }
           if (!hit) { last = line }
           if (hit && start >= 0) { print file ":" start "-" last > out; start = -1 }
           next }
  /^end_of_record/ { if (keep && start >= 0) print file ":" start "-" last > out; start = -1 }
  END {
    printf "%-12s %8s %8s %7s\n", "folder", "lines", "reached", "percent"
    for (d in total) printf "%-12s %8d %8d %6.1f%%\n", d, total[d], reached[d], 100 * reached[d] / total[d] | "sort"
    close("sort")
    printf "%-12s %8d %8d %6.1f%%\n", "src/ total", all, hits, all ? 100 * hits / all : 0
  }' "$lcov"
echo "unreached lines of src/: $(wc -l <"$out") ranges in $out"
