// Fuzz target: an AAC AudioSpecificConfig, as the stream description and the
// tool's ADTS writer read it.
#include <cstdint>

#include "streams/audio_specific_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flvdmx::AudioSpecificConfig config;
  if (flvdmx::ParseAudioSpecificConfig(data, size, &config)) {
    (void)flvdmx::AacSamplingFrequency(config.samplingFrequencyIndex);
  }
  return 0;
}
