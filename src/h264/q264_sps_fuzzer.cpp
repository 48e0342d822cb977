// Fuzz target: an H.264 sequence parameter set unit (header byte first, with
// its emulation-prevention bytes), through the path the mini-parser takes
// and through the raw-payload parser.
#include <cstdint>
#include <cstring>
#include <memory>

#include "h264/q264.h"
#include "h264/q264_sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0xFFFF) return 0;
  flvdmx::Q264SeqParameterSet sps;
  (void)flvdmx::Q264_ParseSeqParameterSet(data + 1, size - 1, &sps);

  // In place: the unit shrinks as the emulation-prevention bytes go.
  std::unique_ptr<uint8_t[]> unit(new uint8_t[size]);
  std::memcpy(unit.get(), data, size);
  const uint32_t len = flvdmx::Q264_EBSPtoRBSP(unit.get(), static_cast<uint32_t>(size));
  flvdmx::Q264NalUnit nal{unit.get(), len, static_cast<uint32_t>(data[0] >> 7),
                          static_cast<uint32_t>((data[0] >> 5) & 3),
                          static_cast<uint32_t>(data[0] & 0x1F)};
  flvdmx::Q264DecoderObject* pDecoder = flvdmx::Q264_CreateDecoderObject();
  if (pDecoder == nullptr) return 0;
  flvdmx::VideoStreamInfo info;
  (void)flvdmx::Q264_ProcessSPS(pDecoder, &nal, &info);
  flvdmx::Q264_FreeDecoderObject(pDecoder);
  return 0;
}
