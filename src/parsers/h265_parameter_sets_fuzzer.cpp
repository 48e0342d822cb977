// Fuzz target: one H.265 unit payload (after the two header bytes, with its
// emulation-prevention bytes) read as a video, a sequence and a picture
// parameter set in turn, as the reader strips them.
#include <cstdint>
#include <memory>

#include "base/bit_reader.h"
#include "parsers/h265_parameter_sets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using flvdmx::BitReader;
  constexpr auto kStrip = BitReader::EmulationPrevention::kStrip;
  // Large records: on the heap, not on the fuzzer's stack.
  auto pVps = std::make_unique<flvdmx::H265VideoParameterSet>();
  auto pSps = std::make_unique<flvdmx::H265SeqParameterSet>();
  auto pPps = std::make_unique<flvdmx::H265PicParameterSet>();
  BitReader vps(data, size, kStrip);
  (void)flvdmx::ParseVideoParameterSet(vps, pVps.get());
  BitReader sps(data, size, kStrip);
  (void)flvdmx::ParseSeqParameterSet(sps, pSps.get());
  BitReader pps(data, size, kStrip);
  (void)flvdmx::ParsePicParameterSet(pps, pPps.get());
  return 0;
}
