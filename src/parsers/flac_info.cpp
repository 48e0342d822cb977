#include "parsers/flac_info.h"

#include <cstring>

#include "base/bit_reader.h"
#include "base/byte_reader.h"

namespace flvdmx {
namespace {

constexpr uint8_t kStreamInfoType = 0;
constexpr uint32_t kStreamInfoBytes = 34;

}  // namespace

bool ParseFlacStreamInfo(const uint8_t* data, size_t size, FlacStreamInfo* out) {
  ByteReader reader(data, size);
  if (reader.size() >= 4 && std::memcmp(data, "fLaC", 4) == 0 && !reader.Skip(4)) return false;
  uint8_t blockType;
  uint32_t blockLength;
  if (!reader.GetU8(&blockType) || !reader.GetU24(&blockLength)) return false;
  // The first block is STREAMINFO, whether or not it is also the last.
  if ((blockType & 0x7F) != kStreamInfoType || blockLength != kStreamInfoBytes) return false;
  const uint8_t* body;
  if (!reader.GetSpan(&body, kStreamInfoBytes)) return false;
  BitReader r(body, kStreamInfoBytes);
  uint32_t minBlock, maxBlock, minFrame, maxFrame, sampleRate, channelsMinus1, bitsMinus1;
  uint32_t totalHigh, totalLow;
  if (!r.ReadBits(16, &minBlock) || !r.ReadBits(16, &maxBlock) || !r.ReadBits(24, &minFrame) ||
      !r.ReadBits(24, &maxFrame) || !r.ReadBits(20, &sampleRate) ||
      !r.ReadBits(3, &channelsMinus1) || !r.ReadBits(5, &bitsMinus1) ||
      !r.ReadBits(4, &totalHigh) || !r.ReadBits(32, &totalLow))
    return false;
  // Blocks shorter than 16 samples exist only as a stream's last block, and
  // fewer than 4 bits per sample is not a valid FLAC stream.
  if (sampleRate == 0 || maxBlock < 16 || minBlock > maxBlock || bitsMinus1 < 3) return false;
  FlacStreamInfo info;
  info.minBlock = static_cast<uint16_t>(minBlock);
  info.maxBlock = static_cast<uint16_t>(maxBlock);
  info.minFrame = minFrame;
  info.maxFrame = maxFrame;
  info.sampleRate = sampleRate;
  info.channels = static_cast<uint8_t>(channelsMinus1 + 1);
  info.bitsPerSample = static_cast<uint8_t>(bitsMinus1 + 1);
  info.totalSamples = (uint64_t{totalHigh} << 32) | totalLow;
  *out = info;
  return true;
}

}  // namespace flvdmx
