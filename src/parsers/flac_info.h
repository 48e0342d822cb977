// The FLAC STREAMINFO block: sample rate, channels and sample size for the
// output media type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct FlacStreamInfo {
  uint16_t minBlock = 0, maxBlock = 0;
  uint32_t minFrame = 0, maxFrame = 0, sampleRate = 0;
  uint8_t channels = 0, bitsPerSample = 0;
  uint64_t totalSamples = 0;
};

// Accepts "fLaC" + metadata blocks, or a bare metadata block list starting with STREAMINFO.
bool ParseFlacStreamInfo(const uint8_t* data, size_t size, FlacStreamInfo* out);

}  // namespace flvdmx
