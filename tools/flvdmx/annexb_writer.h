// AnnexBWriter: AVC -> .h264 and HEVC -> .h265 Annex B. The decoder
// configuration's parameter sets go in front of the first frame and of every
// key frame, and the NAL length prefixes (of the configured size) become
// start codes. Samples of both codecs are bare length-prefixed units.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stream_writer.h"

namespace flvdmx::cli {

// The parameter sets of a decoder configuration record and the size of the
// samples' NAL length prefixes.
struct ParameterSets {
  std::vector<std::vector<uint8_t>> units;
  uint32_t cbLengthSize = 4;
};

// The record itself, without the 8-byte box header. HEVC records are read in
// the hvcC layout when they parse as such, else in the AVC-like layout some
// FLV writers use. False when the record is malformed (*pOut untouched).
bool ParseDecoderConfiguration(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                               ParameterSets* pOut);

class AnnexBWriter final : public StreamWriter {
 public:
  AnnexBWriter(bool bHevc, ParameterSets sets);
  ~AnnexBWriter() override;

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  void Append(const uint8_t* p, size_t n);
  void AppendSample(const uint8_t* pData, size_t cb);

  ParameterSets m_Sets;
  std::FILE* m_pFile = nullptr;
  // Reused for every sample: no allocation once it has grown.
  std::vector<uint8_t> m_Out;
};

}  // namespace flvdmx::cli
