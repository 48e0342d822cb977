#!/usr/bin/env bash
# Matroska sources for the enhanced FLV corpus: one short stream per codec
# that enhanced FLV carries by FourCC. The tests wrap their packets into FLV
# (tests/support/eflv_writer.h) and compare the filter's samples with
# ffprobe's packets of these files. Usage: enhanced-sources.sh DIR
#
# Each file is written under a temporary name, checked with ffprobe and only
# then moved into place, so an interrupted run never leaves a half file behind.
set -euo pipefail
dir=${1:?usage: enhanced-sources.sh DIR}/enhanced
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact)
picture=(-f lavfi -i "testsrc2=size=160x90:rate=25:duration=2" -pix_fmt yuv420p)
tone=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2")

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# make NAME CODEC ffmpeg-arguments... : DIR/NAME unless it is there; its one
# stream must be CODEC as ffprobe names it.
make() {
  local name=$1 expect=$2
  shift 2
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" "$@" "${exact[@]}" -f matroska "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$tmp" | paste -sd, -)
  if [ "$got" != "$expect" ]; then
    echo "enhanced-sources: $name has '$got', expected '$expect'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

# Key frames every second, so a seek has somewhere to land.
make av1.mkv av1 "${picture[@]}" -c:v libaom-av1 -cpu-used 8 -row-mt 0 -threads 1 \
  -g 25 -b:v 100k
make vp9.mkv vp9 "${picture[@]}" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -threads 1 \
  -g 25 -b:v 100k
make vp8.mkv vp8 "${picture[@]}" -c:v libvpx -deadline realtime -cpu-used 8 -threads 1 \
  -g 25 -b:v 100k
make hevc.mkv hevc "${picture[@]}" -c:v libx265 \
  -x265-params "keyint=25:min-keyint=25:bframes=3:pools=1:frame-threads=1:log-level=error"
make avc.mkv h264 "${picture[@]}" -c:v libx264 -threads 1 -g 25 -keyint_min 25 -bf 3
make opus.mkv opus "${tone[@]}" -c:a libopus -b:a 48k
make flac.mkv flac "${tone[@]}" -c:a flac -ar 44100
make ac3.mkv ac3 "${tone[@]}" -c:a ac3 -b:a 96k
make eac3.mkv eac3 "${tone[@]}" -c:a eac3 -b:a 96k
make mp3.mkv mp3 "${tone[@]}" -c:a libmp3lame -ar 44100 -b:a 64k
make aac.mkv aac "${tone[@]}" -c:a aac -ar 44100 -b:a 64k
