// The writers behind `flvdmx demux`: each turns the samples of one output pin
// into its stream's standard raw file, from the pin's media type (codec and
// format block) and the payloads as the pin delivers them:
//   AVC, HEVC -> .h264, .h265 Annex B (annexb_writer.h);
//   AAC  -> .aac ADTS (adts_writer.h);
//   MP3 / MPEG audio -> .mp3 / .mp2, payloads as they are (concat_writer.h);
//   PCM  -> .wav (wav_writer.h);
//   anything else (Sorenson H.263, screen video, VP6, Nellymoser, Speex) ->
//           the raw payloads plus a JSON Lines index (raw_index_writer.h).
#pragma once

#include <memory>
#include <string>

#include "platform/dshow.h"
#include "stream_writer.h"

namespace flvdmx::cli {

// The writer for a pin with media type `mt`, writing `dir`/`baseName`.ext.
// Null with *pError when the type is not one the filter produces.
std::unique_ptr<StreamWriter> CreateStreamWriter(const AM_MEDIA_TYPE& mt, const std::string& dir,
                                                 const std::string& baseName, std::string* pError);

}  // namespace flvdmx::cli
