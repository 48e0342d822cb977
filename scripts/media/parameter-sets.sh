#!/usr/bin/env bash
# Raw H.264 and H.265 elementary streams (Annex B, start-code form), a few
# frames each, for the parameter-set parsers: several picture sizes (some
# that need cropping), frame rates, bit depths, chroma formats, profiles and
# interlacing. Usage: parameter-sets.sh DIR
#
# Each file is written under a temporary name, checked with ffprobe and only
# then moved into place, so an interrupted run never leaves a half file behind.
set -euo pipefail
dir=${1:?usage: parameter-sets.sh DIR}
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags:v +bitexact)

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# make NAME CODEC SIZE RATE ffmpeg-output-arguments... : three frames of
# testsrc2 at SIZE and RATE, encoded into DIR/NAME unless it is there; the
# format (h264 or hevc) comes from CODEC, which ffprobe must report back.
make() {
  local name=$1 codec=$2 size=$3 rate=$4
  shift 4
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" -f lavfi -i "testsrc2=size=$size:rate=$rate" -frames:v 3 "$@" "${exact[@]}" \
    -f "$codec" "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$tmp")
  if [ "$got" != "$codec" ]; then
    echo "parameter-sets: $name has codec '$got', expected '$codec'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

# x264 writes the lowest profile that its features need, so each profile is
# asked for through the features that call for it.
x264=(-c:v libx264 -preset ultrafast -threads 1 -crf 40)
baseline=(-x264-params cabac=0:8x8dct=0)
main=(-x264-params cabac=1:8x8dct=0)
high=(-x264-params cabac=1:8x8dct=1)

make ps_h264_baseline_176x144_25.h264 h264 176x144 25 "${x264[@]}" -pix_fmt yuv420p "${baseline[@]}"
make ps_h264_main_720x576_25.h264 h264 720x576 25 "${x264[@]}" -pix_fmt yuv420p "${main[@]}"
make ps_h264_main_322x242_24.h264 h264 322x242 24 "${x264[@]}" -pix_fmt yuv420p "${main[@]}"
make ps_h264_high_1280x720_50.h264 h264 1280x720 50 "${x264[@]}" -pix_fmt yuv420p "${high[@]}"
make ps_h264_high_1920x1080_ntsc.h264 h264 1920x1080 30000/1001 "${x264[@]}" -pix_fmt yuv420p "${high[@]}"
make ps_h264_high_sar_720x576_25.h264 h264 720x576 25 "${x264[@]}" -pix_fmt yuv420p "${high[@]}" -aspect 16:9
make ps_h264_high_sar_352x288_25.h264 h264 352x288 25 "${x264[@]}" -pix_fmt yuv420p "${high[@]}" \
  -vf setsar=12/11
make ps_h264_high10_640x360_25.h264 h264 640x360 25 "${x264[@]}" -pix_fmt yuv420p10le "${high[@]}"
make ps_h264_high422_322x242_30.h264 h264 322x242 30 "${x264[@]}" -pix_fmt yuv422p "${high[@]}"
make ps_h264_interlaced_1920x1080_25.h264 h264 1920x1080 25 "${x264[@]}" -pix_fmt yuv420p \
  -x264-params cabac=1:8x8dct=1:interlaced=1:tff=1 -flags +ildct+ilme
make ps_h264_interlaced_720x480_ntsc.h264 h264 720x480 30000/1001 "${x264[@]}" -pix_fmt yuv420p \
  -x264-params cabac=1:8x8dct=0:interlaced=1:bff=1 -flags +ildct+ilme

x265=(-c:v libx265 -preset ultrafast -crf 40)
x265params() { echo "-x265-params" "log-level=error:pools=1:frame-threads=1${1:+:$1}"; }

make ps_h265_main_320x240_25.h265 hevc 320x240 25 "${x265[@]}" -pix_fmt yuv420p $(x265params)
make ps_h265_main_322x242_24.h265 hevc 322x242 24 "${x265[@]}" -pix_fmt yuv420p $(x265params)
make ps_h265_main_1280x720_50.h265 hevc 1280x720 50 "${x265[@]}" -pix_fmt yuv420p $(x265params)
make ps_h265_main_1920x1080_ntsc.h265 hevc 1920x1080 30000/1001 "${x265[@]}" -pix_fmt yuv420p $(x265params)
make ps_h265_main_sar_720x576_25.h265 hevc 720x576 25 "${x265[@]}" -pix_fmt yuv420p $(x265params) -aspect 16:9
make ps_h265_main10_640x360_50.h265 hevc 640x360 50 "${x265[@]}" -pix_fmt yuv420p10le $(x265params)
make ps_h265_rext422_322x242_25.h265 hevc 322x242 25 "${x265[@]}" -pix_fmt yuv422p $(x265params)
make ps_h265_rext444_178x146_30.h265 hevc 178x146 30 "${x265[@]}" -pix_fmt yuv444p $(x265params)
make ps_h265_interlaced_720x576_25.h265 hevc 720x576 25 "${x265[@]}" -pix_fmt yuv420p \
  $(x265params "interlace=tff")
make ps_h265_main_176x144_hrd.h265 hevc 176x144 25 "${x265[@]}" -pix_fmt yuv420p \
  $(x265params "hrd=1:vbv-maxrate=200:vbv-bufsize=400:repeat-headers=1") -b:v 100k
make ps_h265_main_scaling_176x144_25.h265 hevc 176x144 25 "${x265[@]}" -pix_fmt yuv420p \
  $(x265params "scaling-list=default")
make ps_h265_main_rps_320x240_25.h265 hevc 320x240 25 -c:v libx265 -preset medium -crf 40 -pix_fmt yuv420p \
  $(x265params "bframes=4:b-pyramid=1:ref=4")
