// The writers behind `flvdmx demux`: each turns the samples of one output pin
// into its stream's standard raw file, from the pin's media type (codec and
// format block) and the payloads as the pin delivers them:
//   AVC  -> .h264 Annex B: the decoder configuration's parameter sets in front
//           of the first frame and of every key frame, NAL length prefixes
//           (of the configured size) turned into start codes;
//   HEVC -> .h265 likewise (VPS, SPS, PPS), from the coded-picture samples
//           (the filter delivers HEVC with its packet type in front);
//   AAC  -> .aac ADTS: a 7-byte header built from the AudioSpecificConfig in
//           front of every frame;
//   MP3 / MPEG audio -> .mp3 / .mp2, payloads as they are;
//   PCM  -> .wav, the RIFF sizes filled in when the stream ends;
//   anything else (Sorenson H.263, screen video, VP6, Nellymoser, Speex) ->
//           the raw payloads plus a JSON Lines index (time, size, key).
//
// A writer owns its files from creation until it is destroyed; Finish
// completes and closes them. Not thread-safe: one pin's samples arrive on one
// thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow.h"

namespace flvdmx::cli {

class StreamWriter {
 public:
  virtual ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // One sample's payload. tStart is the sample's start time (100 ns units) as
  // it carries it; bSync marks a key frame. False once writing has failed
  // (Error() says why).
  virtual bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) = 0;
  // Completes and closes the files. False when that or an earlier write failed.
  virtual bool Finish();

  // "H.264 Annex B", "ADTS AAC", ... for the tool's summary.
  const std::string& Kind() const { return m_Kind; }
  // The files written, main file first.
  const std::vector<std::string>& Files() const { return m_Files; }
  uint64_t SampleCount() const { return m_cSamples; }
  uint64_t MalformedCount() const { return m_cMalformed; }
  const std::string& Error() const { return m_Error; }

 protected:
  explicit StreamWriter(std::string kind) : m_Kind(std::move(kind)) {}

  // Opens a file for writing and records its name; false with Error() set.
  bool OpenFile(const std::string& path, std::FILE** ppFile);
  bool WriteBytes(std::FILE* pFile, const void* pData, size_t cb);
  bool CloseFile(std::FILE** ppFile);
  bool Fail(const std::string& error);

  std::string m_Kind;
  std::vector<std::string> m_Files;
  uint64_t m_cSamples = 0;
  // Samples whose content did not match the stream's framing (a NAL length
  // running past the sample); written as far as they could be.
  uint64_t m_cMalformed = 0;
  std::string m_Error;
};

// The writer for a pin with media type `mt`, writing `dir`/`baseName`.ext.
// Null with *pError when the type is not one the filter produces.
std::unique_ptr<StreamWriter> CreateStreamWriter(const AM_MEDIA_TYPE& mt, const std::string& dir,
                                                 const std::string& baseName, std::string* pError);

// The pure parts of the writers: functions over bytes.

// The parameter sets of an AVC or HEVC decoder configuration record (the
// record itself, without the 8-byte box header) and the size of the NAL
// length prefixes. HEVC records are read in the hvcC layout when they parse
// as such, else in the AVC-like layout some FLV writers use. False when the
// record is malformed (nothing is returned then).
struct ParameterSets {
  std::vector<std::vector<uint8_t>> units;
  uint32_t cbLengthSize = 4;
};
bool ParseDecoderConfiguration(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                               ParameterSets* pOut);

// The fields of an AudioSpecificConfig that an ADTS header carries. False
// when the config is too short or names no object type ADTS can carry.
struct AdtsConfig {
  uint8_t profile = 1;  // audio object type - 1 (0 Main, 1 LC, 2 SSR, 3 LTP)
  uint8_t samplingFrequencyIndex = 4;
  uint8_t channelConfiguration = 2;
};
bool ParseAudioSpecificConfig(const uint8_t* pConfig, size_t cbConfig, AdtsConfig* pOut);
// The rate of a sampling frequency index; 0 for an index outside the table.
uint32_t SamplingFrequency(uint8_t index);
// The 7-byte ADTS header (no CRC) for one frame of cbPayload bytes.
void BuildAdtsHeader(const AdtsConfig& config, size_t cbPayload, uint8_t header[7]);

}  // namespace flvdmx::cli
