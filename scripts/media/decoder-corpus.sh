#!/usr/bin/env bash
# Audio-only FLV files for the real-decoder step of the Wine stage, in
# DIR/decoders: MP3 at every rate the FLV muxer takes (MPEG-1, MPEG-2 and
# the MPEG-2.5 quarter rate), mono and stereo, and 16-bit PCM. ffmpeg's FLV
# muxer refuses MP3 at 8 and 12 kHz, so those rates have no file here.
# Usage: decoder-corpus.sh DIR
set -euo pipefail
dir=${1:?usage: decoder-corpus.sh DIR}/decoders
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags:a +bitexact)

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# make NAME CODEC RATE CHANNELS ffmpeg-codec-arguments...: DIR/NAME unless
# it is there, checked with ffprobe before it is moved into place.
make() {
  local name=$1 codec=$2 rate=$3 channels=$4
  shift 4
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" -f lavfi -i "sine=frequency=440:sample_rate=$rate:duration=5" \
    "$@" -ar "$rate" -ac "$channels" "${exact[@]}" -f flv "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$tmp")
  if [ "$got" != "$codec,$rate,$channels" ]; then
    echo "decoder-corpus: $name is '$got', expected '$codec,$rate,$channels'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

make mp3_44100_stereo.flv mp3 44100 2 -c:a libmp3lame
make mp3_22050_mono.flv mp3 22050 1 -c:a libmp3lame
make mp3_22050_stereo.flv mp3 22050 2 -c:a libmp3lame
make mp3_11025_mono.flv mp3 11025 1 -c:a libmp3lame
make pcm_44100_stereo.flv pcm_s16le 44100 2 -c:a pcm_s16le
make pcm_22050_mono.flv pcm_s16le 22050 1 -c:a pcm_s16le
