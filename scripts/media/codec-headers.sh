#!/usr/bin/env bash
# Short AV1, VP8, VP9, Opus, FLAC, AC-3 and E-AC-3 streams for the codec header
# readers: picture sizes (odd ones too), bit depths, chroma formats, channel
# layouts and sample rates. Video comes as IVF (the first frame carries the
# headers) and, where MP4 can hold the codec, as an MP4 copy whose sample
# entry holds the configuration record. Usage: codec-headers.sh DIR
set -euo pipefail
dir=${1:?usage: codec-headers.sh DIR}
mkdir -p "$dir"

quiet=(-hide_banner -loglevel error -nostdin -y)
exact=(-fflags +bitexact -flags +bitexact)

tmp=""
trap '[ -n "$tmp" ] && rm -f "$tmp"' EXIT

# put NAME FORMAT CODEC ffmpeg-arguments... : runs ffmpeg into a temporary
# file of FORMAT, checks that ffprobe finds CODEC in it, then moves it to NAME.
put() {
  local name=$1 format=$2 codec=$3
  shift 3
  [ -s "$dir/$name" ] && return 0
  tmp="$dir/.$name.$$.tmp"
  ffmpeg "${quiet[@]}" "$@" "${exact[@]}" -f "$format" "$tmp"
  local got
  got=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$tmp" | head -1)
  if [ "$got" != "$codec" ]; then
    echo "codec-headers: $name has codec '$got', expected '$codec'" >&2
    exit 1
  fi
  mv -f "$tmp" "$dir/$name"
  tmp=""
}

# video NAME CODEC WxH ffmpeg-output-arguments... : two frames as NAME.ivf,
# and as NAME.mp4 unless the name says VP8 (MP4 has no sample entry for it).
# testsrc2 makes even sizes only, so a scale gives the odd ones.
video() {
  local name=$1 codec=$2 w=${3%x*} h=${3#*x}
  shift 3
  put "$name.ivf" ivf "$codec" -f lavfi -i "testsrc2=size=$((w + w % 2))x$((h + h % 2)):rate=25" \
    -vf "scale=$w:$h" -frames:v 2 "$@"
  case $name in *vp8*) return 0 ;; esac
  put "$name.mp4" mp4 "$codec" -i "$dir/$name.ivf" -c copy
}

# SVT-AV1 reports its settings on standard error unless told not to.
export SVT_LOG=1
aom=(-c:v libaom-av1 -cpu-used 8 -threads 1)
video ch_av1_aom_176x144 av1 176x144 "${aom[@]}" -pix_fmt yuv420p
video ch_av1_aom_321x241_10bit av1 321x241 "${aom[@]}" -pix_fmt yuv420p10le
video ch_av1_aom_64x48_444 av1 64x48 "${aom[@]}" -pix_fmt yuv444p
video ch_av1_aom_64x64_12bit av1 64x64 "${aom[@]}" -pix_fmt yuv420p12le
video ch_av1_aom_65x33_gray av1 65x33 "${aom[@]}" -pix_fmt gray
video ch_av1_aom_96x64_model av1 96x64 "${aom[@]}" -pix_fmt yuv420p -aom-params timing-info=model
video ch_av1_aom_80x60_constant av1 80x60 "${aom[@]}" -pix_fmt yuv420p -aom-params timing-info=constant
video ch_av1_svt_322x242 av1 322x242 -c:v libsvtav1 -preset 12 -pix_fmt yuv420p
video ch_av1_svt_640x360_10bit av1 640x360 -c:v libsvtav1 -preset 12 -pix_fmt yuv420p10le
video ch_av1_rav1e_203x101 av1 203x101 -c:v librav1e -speed 10 -pix_fmt yuv420p

vp9=(-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -threads 1 -b:v 100k)
video ch_vp9_176x144 vp9 176x144 "${vp9[@]}" -pix_fmt yuv420p
video ch_vp9_321x241 vp9 321x241 "${vp9[@]}" -pix_fmt yuv420p
video ch_vp9_p1_160x120_444 vp9 160x120 "${vp9[@]}" -pix_fmt yuv444p
video ch_vp9_p1_160x120_422 vp9 160x120 "${vp9[@]}" -pix_fmt yuv422p
video ch_vp9_p2_320x240_10bit vp9 320x240 "${vp9[@]}" -pix_fmt yuv420p10le
video ch_vp9_p2_96x64_12bit vp9 96x64 "${vp9[@]}" -pix_fmt yuv420p12le
video ch_vp9_p3_96x64_444_10bit vp9 96x64 "${vp9[@]}" -pix_fmt yuv444p10le
video ch_vp9_gbr_64x64 vp9 64x64 "${vp9[@]}" -pix_fmt gbrp
video ch_vp9_full_range_64x64 vp9 64x64 "${vp9[@]}" -pix_fmt yuv420p -color_range pc

vp8=(-c:v libvpx -deadline realtime -cpu-used 8 -threads 1 -b:v 100k)
video ch_vp8_176x144 vp8 176x144 "${vp8[@]}"
video ch_vp8_321x241 vp8 321x241 "${vp8[@]}"

# audio NAME CODEC FORMAT RATE LAYOUT ffmpeg-output-arguments... : a tenth of a second.
audio() {
  local name=$1 codec=$2 format=$3 rate=$4 layout=$5
  shift 5
  put "$name" "$format" "$codec" -f lavfi -i "sine=frequency=440:sample_rate=$rate" \
    -t 0.1 -af "aformat=channel_layouts=$layout" "$@"
}

audio ch_opus_mono.opus opus ogg 48000 mono -c:a libopus -b:a 32k
audio ch_opus_stereo_16000.opus opus ogg 16000 stereo -c:a libopus -b:a 64k
audio ch_opus_5.1.opus opus ogg 48000 5.1 -c:a libopus -b:a 128k -mapping_family 1
audio ch_opus_quad_family255.opus opus ogg 48000 quad -c:a libopus -b:a 96k -mapping_family 255
audio ch_flac_16_44100_stereo.flac flac flac 44100 stereo -c:a flac
audio ch_flac_24_96000_5.1.flac flac flac 96000 5.1 -c:a flac -sample_fmt s32 -bits_per_raw_sample 24
audio ch_flac_16_8000_mono.flac flac flac 8000 mono -c:a flac
audio ch_flac_24_48000_stereo.mp4 flac mp4 48000 stereo -c:a flac -sample_fmt s32 \
  -bits_per_raw_sample 24 -strict experimental
audio ch_ac3_48000_stereo.ac3 ac3 ac3 48000 stereo -c:a ac3 -b:a 192k
audio ch_ac3_44100_5.1.ac3 ac3 ac3 44100 5.1 -c:a ac3 -b:a 448k
audio ch_ac3_32000_mono.ac3 ac3 ac3 32000 mono -c:a ac3 -b:a 96k
audio ch_eac3_48000_stereo.eac3 eac3 eac3 48000 stereo -c:a eac3 -b:a 128k
audio ch_eac3_44100_5.1.eac3 eac3 eac3 44100 5.1 -c:a eac3 -b:a 384k
audio ch_eac3_32000_mono.eac3 eac3 eac3 32000 mono -c:a eac3 -b:a 64k
