// Tag payloads the stream descriptions accept, for the header-scan tests.
#pragma once

#include <cstdint>
#include <vector>

#include "streams/streams_test_util.h"
#include "support/media.h"

namespace flvdmx {

// Screen video key frame, 160 x 120.
inline std::vector<uint8_t> ScreenVideo() { return {0x13, 0x30, 0xA0, 0x30, 0x78, 0x78, 0xDA}; }

// 16-bit stereo PCM at 44.1 kHz, 8 samples.
inline std::vector<uint8_t> PcmAudio() {
  std::vector<uint8_t> p(33, 0x11);
  p[0] = 0x3F;
  return p;
}

// One MP3 frame header (MPEG-1 Layer III 128 kbit/s 44.1 kHz) in a tag of `dataSize`.
inline std::vector<uint8_t> Mp3Audio(size_t dataSize) {
  std::vector<uint8_t> p = {0x2F, 0xFF, 0xFB, 0x90, 0x64};
  p.resize(dataSize, 0x00);
  return p;
}

}  // namespace flvdmx
