// AV1 stream facts for the output media type: the picture size and format
// from the sequence header OBU, found in an av1C record or in a sample of
// low-overhead OBUs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

struct Av1Info {
  uint32_t width = 0, height = 0;
  uint8_t seqProfile = 0, seqLevelIdx0 = 0, bitDepth = 8;
  bool monochrome = false;
  uint8_t chromaSubsamplingX = 1, chromaSubsamplingY = 1;
};

// av1C record (4 fixed bytes + configOBUs); size comes from a sequence header OBU in configOBUs
// when present, and stays 0 otherwise. A present but broken header is false.
bool ParseAv1CodecConfig(const uint8_t* data, size_t size, Av1Info* out);
// Walks low-overhead OBUs (obu_has_size_field) and parses the first OBU_SEQUENCE_HEADER.
bool ParseAv1SequenceHeaderObus(const uint8_t* data, size_t size, Av1Info* out);

}  // namespace flvdmx
