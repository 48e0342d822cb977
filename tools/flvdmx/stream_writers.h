// The writers behind `flvdmx demux`: each turns the samples of one output pin
// into its stream's standard raw file, from the pin's media type (codec and
// format block) and the payloads as the pin delivers them:
//   AVC, HEVC -> .h264, .h265 Annex B (annexb_writer.h);
//   AAC  -> .aac ADTS (adts_writer.h);
//   MP3 / MPEG audio -> .mp3 / .mp2, payloads as they are (concat_writer.h);
//   PCM  -> .wav (wav_writer.h);
//   AV1  -> .obu low-overhead OBUs (obu_writer.h), or .ivf on request;
//   VP9, VP8 -> .ivf (ivf_writer.h);
//   Opus -> .opus Ogg (ogg_opus_writer.h); FLAC -> .flac (flac_writer.h);
//   AC-3, E-AC-3 -> .ac3, .eac3, payloads as they are (concat_writer.h);
//   anything else (Sorenson H.263, screen video, VP6, Nellymoser, Speex) ->
//           the raw payloads plus a JSON Lines index (raw_index_writer.h).
#pragma once

#include <memory>
#include <string>

#include "platform/dshow.h"
#include "stream_writer.h"

namespace flvdmx::cli {

struct WriterOptions {
  bool bAv1Ivf = false;  // AV1 as .ivf rather than .obu
};

// The writer for a pin with media type `mt`, writing `dir`/`baseName`.ext.
// Null with *pError when the type is not one the filter produces.
std::unique_ptr<StreamWriter> CreateStreamWriter(const AM_MEDIA_TYPE& mt, const std::string& dir,
                                                 const std::string& baseName,
                                                 const WriterOptions& options, std::string* pError);

}  // namespace flvdmx::cli
