// The Opus identification header ("OpusHead"), which the output media type
// carries and which tells the channel count and the decoder's pre-skip.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct OpusHeadInfo {
  uint8_t channels = 0;
  uint16_t preSkip = 0;
  uint32_t inputSampleRate = 0;
  int16_t outputGain = 0;
  uint8_t mappingFamily = 0, streamCount = 1, coupledCount = 0;
  uint8_t mapping[255] = {};
};

// "OpusHead" identification header. Family 0 fills streamCount, coupledCount
// and mapping from the channel count; family 3 (ambisonics with a demixing
// matrix) leaves mapping zero.
bool ParseOpusHead(const uint8_t* data, size_t size, OpusHeadInfo* out);

}  // namespace flvdmx
