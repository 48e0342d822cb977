# Sourced by scripts/test.sh and scripts/fuzz.sh: the libFuzzer options of
# each target. Inputs that play a whole file may be large (tags of several
# hundred KB); the parser targets read one record or unit.
fuzz_options() {
  local target=$1
  local rss=512 max_len=65536
  case $target in
    filter) rss=2048; max_len=1048576 ;;
    flv_header_scan|tag_walk) max_len=1048576 ;;
    mini_parser) max_len=4096 ;;
  esac
  # One process per corpus: rereading the corpus directory every second for
  # other processes' finds only costs time.
  echo "-rss_limit_mb=$rss -max_len=$max_len -timeout=5 -dict=tests/fuzz/flv.dict -reload=0"
}

# Seconds of the short run in the test command: 5 minutes for all targets.
# FLVDMX_FUZZ_SECONDS, when set, gives every target that many instead.
fuzz_seconds() {
  if [ -n "${FLVDMX_FUZZ_SECONDS:-}" ]; then
    echo "$FLVDMX_FUZZ_SECONDS"
    return
  fi
  case $1 in
    filter) echo 60 ;;
    flv_header_scan|tag_walk|mini_parser) echo 25 ;;
    *) echo 15 ;;
  esac
}

# The files of src/ a parser target is for (an awk regular expression for
# scripts/fuzz-coverage-summary.sh); empty for the targets that play whole
# files, which are for all of src/.
fuzz_own_files() {
  case $1 in
    amf0) echo 'src/flv/amf0\.cpp' ;;
    audio_specific_config) echo 'src/streams/audio_specific_config\.cpp' ;;
    decoder_config) echo 'src/streams/decoder_config\.cpp' ;;
    mpeg_audio_header) echo 'src/streams/(mpeg_audio_header|audio_sample_entry)\.cpp' ;;
    q264_sps) echo 'src/(h264|nal)/' ;;
    h265_parameter_sets) echo 'src/parsers/h265_(parameter_sets|syntax)\.cpp|src/nal/' ;;
    codec_header) echo 'src/parsers/(ac3_info|av1_info|flac_info|opus_head|vp_info)\.cpp' ;;
    flv_ex_tag) echo 'src/flv/flv_ex_tag\.cpp' ;;
    *) echo '' ;;
  esac
}
