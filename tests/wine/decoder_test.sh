# shellcheck shell=bash disable=SC2154  # sourced: wine_test.sh sets wine, mingw, media, work
# The filter in front of the platform's own decoders, as a player's graph uses
# it: decoder_check.exe lets the graph insert the decoder for the "Audio" pin
# by intelligent connect and counts the PCM that comes out. Every MP3 file
# must go through the MPEG Layer-3 Decoder, PCM through no decoder, each to
# exactly ffmpeg's byte count, within 10 s; the H.263 "Video" pin, for which
# the platform has no decoder, must be refused rather than hang.
# Sourced by wine_test.sh while the filter is registered; uses its variables
# (wine, mingw, media, work) and helpers (winpath, pass, fail).

decoder_check=$mingw/decoder_check.exe
bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/media/decoder-corpus.sh" "$media"
mp3_decoder='MPEG Layer-3 Decoder {38BE3000-DBF4-11D0-860E-00A024CFEF6D}'

# decoder_run NAME ARGS...: decoder_check's report in $work/NAME.txt; its
# exit code in $run_rc, the wall time in $run_wall. Output goes to a file, not
# a pipe, so that nothing Wine leaves behind can hold it open.
decoder_run() {
  local out=$work/$1.txt start
  shift
  start=$(date +%s%N)
  run_rc=0
  timeout 10 "$wine" "$decoder_check" "$@" >"$out.raw" 2>/dev/null || run_rc=$?
  run_wall=$(( ($(date +%s%N) - start) / 1000000 ))
  tr -d '\r' <"$out.raw" >"$out"
  rm -f "$out.raw"
}
report() { sed -n "s/^$2: //p" "$work/$1.txt" | head -1; }

table=$work/decoders.txt
printf '%-22s %-60s %9s %9s %8s %9s\n' file decoder ours ffmpeg graph wall >"$table"
for f in "$media"/decoders/*.flv; do
  name=$(basename "$f" .flv)
  decoder_run "decoder_$name" audio "$(winpath "$f")"
  ours=$(report "decoder_$name" bytes)
  decoder=$(report "decoder_$name" decoder)
  result=$(report "decoder_$name" result)
  theirs=$(ffmpeg -hide_banner -loglevel error -nostdin -i "$f" -map 0:a -f s16le - | wc -c) || true
  case $name in mp3*) want=$mp3_decoder ;; *) want=none ;; esac
  printf '%-22s %-60s %9s %9s %8s %6d ms\n' "$name.flv" "${decoder:-?}" "${ours:-?}" "$theirs" \
    "$(report "decoder_$name" time)" "$run_wall" >>"$table"
  if [ "$run_rc" = 0 ] && [ "$result" = complete ] && [ "$decoder" = "$want" ] &&
    [ "$ours" = "$theirs" ]; then
    pass "real decoder: $name.flv through '$decoder', $ours bytes as ffmpeg"
  else
    fail "real decoder: $name.flv (exit $run_rc, result '$result', decoder '$decoder',\
 $ours bytes, ffmpeg $theirs; see $work/decoder_$name.txt)"
  fi
done
cat "$table"

decoder_run decoder_h263_video video "$(winpath "$media/h263_mp3.flv")"
result=$(report decoder_h263_video result)
if [ "$run_rc" = 0 ] && [[ $result == refused* ]]; then
  pass "real decoder: no decoder takes the H.263 Video pin ($result, $run_wall ms)"
else
  fail "real decoder: H.263 Video pin (exit $run_rc, result '$result';\
 see $work/decoder_h263_video.txt)"
fi

# A downstream filter that refuses a sample: the run must end with
# EC_ERRORABORT carrying the refusal (0x80040200), not wait forever.
decoder_run decoder_refusal refuse "$(winpath "$media/h264_mp3.flv")"
result=$(report decoder_refusal result)
if [[ $result == "abort 0x80040200" ]]; then
  pass "a refused sample ends the run with EC_ERRORABORT ($result, $run_wall ms)"
else
  fail "refused sample: exit $run_rc, result '$result' (see $work/decoder_refusal.txt)"
fi
