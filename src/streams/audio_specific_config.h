// The one parser of an AAC AudioSpecificConfig: the fields an ADTS header
// carries (the tool's ADTS writer and probe) and what a decoder puts out
// (the audio stream description). A pure function over bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct AudioSpecificConfig {
  uint8_t profile = 1;  // audio object type - 1 (0 Main, 1 LC, 2 SSR, 3 LTP)
  uint8_t samplingFrequencyIndex = 4;
  uint8_t channelConfiguration = 2;
  // What a decoder puts out: the SBR rate where SBR is signalled (explicitly
  // or by the backward-compatible extension after the core config), two
  // channels where parametric stereo is. outputChannels is 0 when the
  // channels are in a program config element (channelConfiguration 0).
  uint32_t outputSampleRate = 44100;
  uint16_t outputChannels = 2;
};

// False when the config is too short or names no object type ADTS can
// carry (*pOut untouched then). Explicit SBR and PS signalling gives the
// core object type and rate: the decoder finds the extension in the frames.
bool ParseAudioSpecificConfig(const uint8_t* pConfig, size_t cbConfig, AudioSpecificConfig* pOut);

// The rate of a sampling frequency index; 0 for an index outside the table.
uint32_t AacSamplingFrequency(uint8_t index);

}  // namespace flvdmx
