// Fuzz target: a decoder configuration record in every layout the filter
// and the tool read, and the start-code form the filter builds from it.
#include <cstdint>
#include <initializer_list>

#include "base/buffer.h"
#include "streams/decoder_config.h"

namespace {

class TouchingSink final : public flvdmx::DecoderConfigUnitSink {
 public:
  bool OnUnit(const uint8_t* pUnit, size_t cbUnit) override {
    for (size_t i = 0; i < cbUnit; ++i) m_dwSum += pUnit[i];
    return true;
  }

 private:
  uint32_t m_dwSum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using flvdmx::DecoderConfigLayout;
  for (DecoderConfigLayout layout :
       {DecoderConfigLayout::kAvc, DecoderConfigLayout::kAvcFirstSets,
        DecoderConfigLayout::kHevcAvcLike, DecoderConfigLayout::kHvcc}) {
    TouchingSink sink;
    uint32_t cbLengthSize = 0;
    (void)flvdmx::ParseDecoderConfigRecord(data, size, layout, &sink, &cbLengthSize);
  }
  for (bool bHevc : {false, true}) {
    flvdmx::CBuffer out;
    (void)flvdmx::AppendParameterSetsFromRecord(data, size, bHevc, &out);
  }
  return 0;
}
