#!/usr/bin/env bash
# Streams that writers in the wild produce and a strict reading loses:
# H.264 High 4:4:4 Predictive (what libx264 writes for RGB input), as a raw
# stream for the parameter-set parser and in FLV with AAC whose rate and
# channels differ from what the FLV flags byte says (22050 Hz mono).
# Usage: unusual-streams.sh DIR
#
# Each file is written under a temporary name, checked with ffprobe and only
# then moved into place, so an interrupted run never leaves a half file behind.
set -euo pipefail
dir=${1:?usage: unusual-streams.sh DIR}
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact)

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# make NAME FORMAT "expected ffprobe stream lines" ffmpeg-arguments... :
# DIR/NAME unless it is there; ffprobe's codec_name,profile of each stream
# must be the expected ones.
make() {
  local name=$1 format=$2 expect=$3
  shift 3
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" "$@" "${exact[@]}" -f "$format" "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name,profile -of csv=p=0 "$tmp" |
    sort | paste -sd';' -)
  if [ "$got" != "$expect" ]; then
    echo "unusual-streams: $name has '$got', expected '$expect'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

rgb_in=(-f lavfi -i "testsrc2=size=322x242:rate=25:duration=2")
rgb_out=(-pix_fmt bgr24 -c:v libx264rgb -preset ultrafast -threads 1 -crf 40 -bf 0)

make ps_h264_rgb444_322x242_25.h264 h264 "h264,High 4:4:4 Predictive" \
  "${rgb_in[@]}" "${rgb_out[@]}" -frames:v 3
make h264rgb_aac22050mono.flv flv "aac,LC;h264,High 4:4:4 Predictive" \
  "${rgb_in[@]}" -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=2" \
  "${rgb_out[@]}" -c:a aac -ar 22050 -ac 1 -t 2
