#include "adts_writer.h"

namespace flvdmx::cli {

namespace {
constexpr size_t kAdtsHeaderSize = 7;
constexpr size_t kMaxAdtsFrame = 0x1FFF;  // 13-bit frame length, header included
}  // namespace

void BuildAdtsHeader(const AudioSpecificConfig& config, size_t cbPayload, uint8_t header[7]) {
  const uint32_t frameLength = static_cast<uint32_t>(cbPayload + kAdtsHeaderSize);
  const uint32_t bufferFullness = 0x7FF;  // variable bit rate
  header[0] = 0xFF;
  header[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  header[2] = static_cast<uint8_t>((config.profile & 3u) << 6 |
                                   (config.samplingFrequencyIndex & 0xFu) << 2 |
                                   (config.channelConfiguration >> 2 & 1u));
  header[3] = static_cast<uint8_t>((config.channelConfiguration & 3u) << 6 | frameLength >> 11);
  header[4] = static_cast<uint8_t>(frameLength >> 3);
  header[5] = static_cast<uint8_t>((frameLength & 7u) << 5 | bufferFullness >> 6);
  header[6] = static_cast<uint8_t>((bufferFullness & 0x3Fu) << 2);  // one raw data block
}

AdtsWriter::~AdtsWriter() { CloseFile(&m_pFile); }

bool AdtsWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) {
  if (m_pFile == nullptr) return false;
  // A frame too long for the header's length field is cut to it.
  if (cb > kMaxAdtsFrame - kAdtsHeaderSize) {
    ++m_cMalformed;
    cb = kMaxAdtsFrame - kAdtsHeaderSize;
  }
  uint8_t header[kAdtsHeaderSize];
  BuildAdtsHeader(m_Config, cb, header);
  ++m_cSamples;
  return WriteBytes(m_pFile, header, sizeof header) && WriteBytes(m_pFile, pData, cb);
}

bool AdtsWriter::Finish() { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

}  // namespace flvdmx::cli
