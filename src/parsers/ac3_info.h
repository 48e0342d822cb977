// AC-3 and E-AC-3 sync frame headers: rate, channels and frame size for the
// output media type, read from the first frame since these codecs carry no
// configuration record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct Ac3Info {
  bool enhanced = false;
  uint32_t sampleRate = 0, bitRate = 0, frameBytes = 0;
  uint8_t channels = 0;
  bool lfe = false;
  uint16_t samplesPerFrame = 1536;
};

// AC-3 (bsid <= 10) or E-AC-3 (bsid 11..16). Of an E-AC-3 frame only the
// first, independent substream is read: channels and frameBytes are its own,
// so a 7.1 stream's dependent substream is not counted.
bool ParseAc3SyncFrame(const uint8_t* data, size_t size, Ac3Info* out);

}  // namespace flvdmx
