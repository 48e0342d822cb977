#!/usr/bin/env bash
# The FLV corpus: short files made by ffmpeg from lavfi test sources, one per
# codec combination the filter meets. Usage: flv-corpus.sh DIR
#
# Each file is written under a temporary name, checked with ffprobe and only
# then moved into place, so an interrupted run never leaves a half file behind.
set -euo pipefail
dir=${1:?usage: flv-corpus.sh DIR}
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact)
x264=(-c:v libx264 -pix_fmt yuv420p -threads 1 -g 50 -keyint_min 50 -sc_threshold 0)

video() {  # SIZE RATE SECONDS
  echo -f lavfi -i "testsrc2=size=$1:rate=$2:duration=$3"
}
tone() {  # SAMPLE_RATE SECONDS [FREQUENCY]
  echo -f lavfi -i "sine=frequency=${3:-440}:sample_rate=$1:duration=$2"
}

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# make NAME "codec,codec" ffmpeg-arguments... : makes DIR/NAME unless it is
# there; the second argument lists the codec_name of every stream as ffprobe
# must report them (in any order: the FLV demuxer adds streams as it meets them).
make() {
  local name=$1 expect=$2
  shift 2
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" "$@" "${exact[@]}" -f flv "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$tmp" | sort | paste -sd, -)
  if [ "$got" != "$(tr , '\n' <<<"$expect" | sort | paste -sd, -)" ]; then
    echo "flv-corpus: $name has streams '$got', expected '$expect'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

# remux NAME SOURCE "codecs" ffmpeg-output-arguments... : the same packets as
# SOURCE in a new file.
remux() {
  local name=$1 src=$2 expect=$3
  shift 3
  make "$name" "$expect" -i "$dir/$src" -map 0 -c copy "$@"
}

aac=(-c:a aac -ar 44100 -ac 2)

make h264_aac.flv h264,aac \
  $(video 320x240 25 12) $(tone 44100 12) "${x264[@]}" -bf 0 "${aac[@]}" -t 12
make h264_aac_bframes.flv h264,aac \
  $(video 320x240 25 12) $(tone 44100 12) "${x264[@]}" -bf 2 "${aac[@]}" -t 12
remux h264_aac_nometa.flv h264_aac.flv h264,aac -flvflags no_metadata
make h264_aac_short.flv h264,aac \
  $(video 320x240 25 5) $(tone 44100 5) "${x264[@]}" -bf 0 "${aac[@]}" -t 5
make h264_mp3.flv h264,mp3 \
  $(video 320x240 25 12) $(tone 44100 12) "${x264[@]}" -bf 0 -c:a libmp3lame -ar 44100 -ac 2 -t 12
make h263_mp3.flv flv1,mp3 \
  $(video 320x240 25 12) $(tone 22050 12) -c:v flv -g 50 -c:a libmp3lame -ar 22050 -ac 1 -t 12
make screen1.flv flashsv \
  $(video 160x120 10 3) -c:v flashsv -t 3
make screen2.flv flashsv2 \
  $(video 160x120 10 3) -c:v flashsv2 -t 3
make pcm.flv pcm_s16le \
  $(tone 44100 5) -c:a pcm_s16le -ar 44100 -ac 2 -t 5
make nellymoser.flv nellymoser \
  $(tone 22050 5) -c:a nellymoser -ar 22050 -ac 1 -t 5
make speex.flv speex \
  $(tone 16000 5) -c:a libspeex -ar 16000 -ac 1 -t 5
make aac_only.flv aac \
  $(tone 44100 12) "${aac[@]}" -t 12
make adpcm_h264.flv h264,adpcm_swf \
  $(video 320x240 25 5) $(tone 22050 5) "${x264[@]}" -bf 0 -c:a adpcm_swf -ar 22050 -ac 1 -t 5

# 21 minutes, so that timestamps pass 2^20 ms and seeks have room to search;
# small and fast so that it costs seconds to make.
long=1260
make h264_aac_long.flv h264,aac \
  $(video 160x120 10 $long) $(tone 22050 $long) \
  -c:v libx264 -pix_fmt yuv420p -threads 1 -preset ultrafast -g 50 -keyint_min 50 -sc_threshold 0 -bf 0 \
  -c:a aac -ar 22050 -ac 1 -b:a 32k -t $long
remux h264_aac_long_nometa.flv h264_aac_long.flv h264,aac -flvflags no_metadata
