#!/usr/bin/env bash
# Installs, with apt-get, whichever of the named Debian packages are missing.
# Usage: scripts/deps.sh build|test|wine|fuzz
set -euo pipefail
build_pkgs=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libogg-dev pkg-config)
test_pkgs=(googletest libgtest-dev libgmock-dev ffmpeg g++-mingw-w64-x86-64 mingw-w64-tools
  clang-format)
# plugins-good brings mpg123, which Wine's MPEG Layer-3 Decoder needs; never
# gstreamer1.0-libav, which carries an FLV demultiplexer.
wine_pkgs=(wine64 gstreamer1.0-plugins-good)
# clang with its libFuzzer and sanitizer runtimes; llvm brings llvm-profdata
# and llvm-cov for scripts/fuzz.sh's coverage report.
fuzz_pkgs=(clang-14 libclang-rt-14-dev llvm-14)

want=()
for group in "$@"; do
  case $group in
    build) want+=("${build_pkgs[@]}") ;;
    test) want+=("${build_pkgs[@]}" "${test_pkgs[@]}") ;;
    wine) want+=("${wine_pkgs[@]}") ;;
    fuzz) want+=("${build_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
    *) echo "deps.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
